#pragma once

// Watching folders for changes: one inotify instance and a wake-up descriptor. A
// folder is watched by itself (not its subfolders), so a tree is watched by adding
// each of its folders. The kernel allows each user a limited number of watches
// (fs.inotify.max_user_watches, shared by every program of that user); when it runs
// out, Add says so and the caller must find changes by looking again.
//
// Threads: one thread adds, removes and waits; Wake may come from any other thread.

#include "platform/file_io.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// What happened, as bits of FolderEvent::what.
enum FolderChange : uint32_t {
    kEntryCreated = 1u << 0,
    kEntryDeleted = 1u << 1,
    kEntryMovedOut = 1u << 2, // moved away from the folder (or renamed: MovedIn follows)
    kEntryMovedIn = 1u << 3,
    kEntryWritten = 1u << 4, // a file opened for writing was closed
    kFolderGone = 1u << 5, // the watched folder itself was deleted or moved
    kWatchEnded = 1u << 6, // the kernel dropped the watch; its number is free again
    kEventsLost = 1u << 7, // the queue overflowed: anything may have changed
};

struct FolderEvent {
    int watch = -1; // the watched folder, as Add numbered it; -1 for kEventsLost
    uint32_t what = 0; // FolderChange bits
    bool folder = false; // the entry is a folder
    uint32_t cookie = 0; // the same for the two halves of one move
    std::string name; // the entry's name in the folder; empty for the folder itself
};

enum class WatchResult {
    Added,
    LimitReached, // no watch left (the user's limit, or the caller's own bound)
    Failed, // the folder cannot be watched (gone, not a folder, no access)
};

class FolderWatch {
public:
    FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // False when no inotify instance could be had (then Add always fails).
    bool Usable() const { return bool(m_inotify); }
    // Watches folder (links followed); watch receives its number. Adding a folder
    // watched already gives the same number again.
    WatchResult Add(const std::string& folder, int& watch);
    void Remove(int watch);
    // Waits until events come, Wake is called, or timeout passes; returns the events
    // (none after a timeout or a wake).
    std::vector<FolderEvent> Wait(std::chrono::milliseconds timeout);
    // Ends the current or the next Wait at once.
    void Wake();

private:
    std::vector<FolderEvent> ReadEvents();

    UniqueFd m_inotify;
    UniqueFd m_wake; // an eventfd
};
