#pragma once

// What the library index's thread does (library_index.h): keeps the database in step
// with the shared folder list, walks shares and folders, watches the folders it
// walked and turns their changes into rows. Everything here runs on that one thread;
// nothing is shared but the database, the shared folder list (which has its lock)
// and the watch's wake-up.

#include "library/library_index.h"
#include "platform/folder_watch.h"

#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

struct IndexSyncSetup {
    size_t watchBound = 0; // 0: as many as the system allows
    WalkBounds walkBounds;
    IndexObserver observer;
    std::atomic<bool>* ready = nullptr; // set once every share has been walked
};

class IndexSync {
public:
    IndexSync(LibraryIndexStore& store, const SharedFolderList& shares, Clock& clock,
        FolderWatch& watch, IndexSyncSetup setup, const std::atomic<bool>& stopping);

    // One turn: the shares when they changed, the walks that are due, then a bounded
    // wait for changes on disk and their rows.
    void Turn(bool sharesChanged);

private:
    struct ShareState {
        std::string folder;
        bool fullyWatched = true;
        std::optional<Clock::TimePoint> walkDue; // set: walk the share again then
    };
    struct WatchedFolder {
        std::string share;
        std::string relative; // "" the share's folder
    };

    void CompareShares();
    void DropShare(const std::string& share);
    void WalkWholeShare(const std::string& share);
    void WalkFolder(const std::string& share, const std::string& relative);
    void Watch(const std::string& share, const std::string& relative, const std::string& disk);
    void Unwatch(const std::string& share, const std::string& relative, bool below);
    void WalkDueShares();
    std::chrono::milliseconds WaitTime();
    void HandleEvents(const std::vector<FolderEvent>& events);
    void HandleEntry(const WatchedFolder& where, const FolderEvent& event);
    void RememberMove(uint32_t cookie, const std::string& share, const std::string& relative);
    void Flush();
    void Notify(IndexNotice::Kind kind, const std::string& share, const std::string& relative);

    LibraryIndexStore& m_store;
    const SharedFolderList& m_shares;
    Clock& m_clock;
    FolderWatch& m_watch;
    const IndexSyncSetup m_setup;
    const std::atomic<bool>& m_stopping;

    std::map<std::string, ShareState> m_indexed; // the shares being kept, by name
    // The folders of each watch, by its number: one folder may be in two shares.
    std::unordered_map<int, std::vector<WatchedFolder>> m_watched;

    // The changes of the events in hand, written at Flush.
    std::vector<IndexChange> m_changes;
    struct MovedOut {
        std::string share;
        int64_t addedNs = 0;
    };
    std::unordered_map<uint32_t, MovedOut> m_movedOut; // by the move's cookie
};
