#pragma once

// The library index: every video of the shares in one SQLite table, so a browser can
// search all shares by any part of a name and list what was added lately without a
// walk of the disks per request.
//
// It is filled at start by a walk of each share (library_walk.h, bounded) and kept
// fresh by inotify: every folder walked is watched, and a file created, written,
// moved or deleted changes its row. When changes were lost (the kernel's event queue
// overflowed) the shares are walked again; when no more folders can be watched (the
// user's watch limit, or the bound set here) the share keeps what it has watched and
// is walked again every kLimitedRescanInterval. A share removed from the shared folder
// list, or given another folder, leaves no row behind.
//
// Threads: one thread of the index's own does all the writing: the walks, the watch
// and the changes, in the order they come. It starts with Start and ends with Stop
// (the server's library layer calls both); a walk under way notices the stop between
// two folders. Queries come from any thread and read the database through
// connections of their own. m_lock guards the observer, the bounds and the thread
// object, never a database call or a wait. The observer hears of each change once it
// is written, on the index's thread, with no lock held.

#include "library/library_index_store.h"
#include "library/library_walk.h"
#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class SharedFolderList;

// How often a share that could not be watched whole is walked again.
inline constexpr std::chrono::minutes kLimitedRescanInterval { 10 };

struct IndexNotice {
    enum class Kind {
        ShareIndexed, // a walk of the whole share was written (first or again)
        ShareDropped, // the share's rows went (removed, or its folder changed)
        FolderIndexed, // a folder that came in (made or moved in) was walked and written
        FileIndexed, // a file's row was written (added or changed)
        FileRemoved, // a file's row went
        FolderRemoved, // every row below a folder went
        WatchLimitReached, // the share is not watched whole: it is walked again in time
    };
    Kind kind = Kind::ShareIndexed;
    std::string share;
    std::string relativePath; // the file or folder; empty for the share
};

using IndexObserver = std::function<void(const IndexNotice& notice)>;

class FolderWatch;
class IndexSync;

class LibraryIndex {
public:
    // databaseFile empty: no index (queries find nothing; Start does nothing).
    LibraryIndex(std::string databaseFile, const SharedFolderList& shares, Clock& clock);
    ~LibraryIndex(); // Stop
    LibraryIndex(const LibraryIndex&) = delete;
    LibraryIndex& operator=(const LibraryIndex&) = delete;

    // Starts the thread, which walks every share; again while it runs: nothing.
    void Start();
    // Ends the thread (a walk under way ends at its next folder) and waits for it.
    void Stop();
    bool IsRunning() const;
    // True once every share has been walked since the start (until then a search
    // may miss files that are there).
    bool Ready() const { return m_ready; }

    // The shared folder list changed: the thread compares it with what is indexed.
    void SharesChanged();
    // Makes the thread look at the clock (and the shares) now.
    void Wake();

    // Set before Start.
    void SetObserver(IndexObserver observer);
    // At most this many folders watched (0: as many as the system allows).
    void SetWatchBound(size_t watches);
    void SetWalkBounds(const WalkBounds& bounds);

    // The database, for queries (any thread).
    LibraryIndexStore& Store() { return m_store; }

private:
    void Run();

    const SharedFolderList& m_shares;
    Clock& m_clock;
    LibraryIndexStore m_store;
    std::atomic<bool> m_stopping { false };
    std::atomic<bool> m_sharesChanged { true };
    std::atomic<bool> m_ready { false };

    mutable std::mutex m_lock;
    // --- guarded by m_lock
    IndexObserver m_observer;
    size_t m_watchBound = 0;
    WalkBounds m_walkBounds;
    std::unique_ptr<FolderWatch> m_watch; // while the thread runs
    std::unique_ptr<IndexSync> m_sync; // the thread's state while it runs
    std::thread m_thread;
};
