#pragma once

// Seek previews of videos: sprite sheets of a picture every 10 s that a browser shows
// above its seek bar. They are made by the encoder engine's preview mode (`-previews
// PATH -o FOLDER`, one pass over the file at idle priority) the first time a browser
// asks for a video's previews, and kept in "Services/.previews/", one folder per
// version of a file (its path, size and modification time make the folder's name, so
// a changed file gets new previews). The folders together stay under a bound on disk
// (setting kKeyPreviewDiskMB): after each pass the folders used longest ago go first;
// a folder is used when its track is asked for. A bound of 0 turns previews off.
//
// Passes run one at a time on the maker's own thread, so previews never add more than
// one engine. A pass waits while the machine is busy (the busy check, by default: this
// server runs as many engines as there are processors) and looks again when woken or
// after kBusyRecheck. A file the engine cannot make previews of is remembered as
// such for as long as that version of it stays among the last kRememberedFailures.
//
// Threads: any request thread calls Find; the pass thread runs the engine. m_lock
// guards the queue, the failures and the observer, never a process, a file operation
// or a call of the checks.

#include "enginectl/encoder.h"
#include "streaming/media_tracks.h"
#include "streaming/preview_index.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

inline constexpr const char* kKeyPreviewDiskMB = "PreviewDiskMB";
inline constexpr int kDefaultPreviewDiskMB = 512;
inline constexpr const char* kPreviewFolderName = ".previews";

class SettingsStore;

// The bound in bytes that the settings give: kKeyPreviewDiskMB megabytes, the default
// when the key is missing or not a whole number.
int64_t PreviewDiskBound(SettingsStore& settings);

class SeekPreviews {
public:
    static constexpr size_t kMaxQueued = 64;
    static constexpr size_t kRememberedFailures = 256;
    static constexpr std::chrono::seconds kBusyRecheck { 5 };

    using BusyCheck = std::function<bool()>; // true: no pass may start now
    using DiskBound = std::function<int64_t()>; // bytes the folders may take; 0: off

    SeekPreviews(EngineLaunch launch, std::string servicesFolder, BusyCheck busy, DiskBound bound);
    ~SeekPreviews(); // Shutdown
    SeekPreviews(const SeekPreviews&) = delete;
    SeekPreviews& operator=(const SeekPreviews&) = delete;

    enum class State {
        Ready, // the sheets are there
        Pending, // a pass is queued or under way (or the queue was full: ask again)
        Failed, // the engine made none of this version of the file
        Off, // the disk bound is 0
    };
    struct Lookup {
        State state = State::Pending;
        PreviewIndex index; // with Ready
    };

    // What there is of this version of the file; queues a pass when there is nothing.
    // A Ready answer counts as a use of the previews.
    Lookup Find(const MediaFileVersion& file);
    // The JPEG file of a sheet of this version of the file, or empty when there is none.
    std::string SheetFile(const MediaFileVersion& file, int sheet) const;

    // Makes a waiting pass look again whether the machine is free.
    void Wake();
    // What a pass did, for traces and tests: called on the pass thread with the file's
    // path (for Evicted: the name of the folder removed) and what happened.
    enum class Event { Deferred, Made, Failed, Evicted };
    void SetObserver(std::function<void(const std::string& path, Event event)> observer);
    // How long one pass may take before its engine is killed (default 1 hour).
    void SetPassTimeout(std::chrono::milliseconds timeout);
    // Kills a pass under way, drops the queue and joins the thread.
    void Shutdown();

    // The folder that keeps previews.
    const std::string& Folder() const { return m_folder; }
    // The folder name of a version of a file.
    static std::string KeyOf(const MediaFileVersion& file);

    struct StoredFolder {
        std::string name;
        int64_t bytes = 0;
        int64_t usedNs = 0; // when it was last used
    };
    // The folders to delete, oldest used first, so that the rest take at most bound.
    static std::vector<std::string> FoldersOverBound(
        std::vector<StoredFolder> folders, int64_t bound);

private:
    void Run();
    void Notify(const std::string& path, Event event);
    bool RunPass(const MediaFileVersion& file);
    void KeepUnderBound(const MediaFileVersion& made);
    void RememberFailure(const MediaFileVersion& file);

    const EngineLaunch m_launch;
    const std::string m_folder;
    const BusyCheck m_busy;
    const DiskBound m_bound;
    std::atomic<int64_t> m_timeoutMs { 3600 * 1000 };

    mutable std::mutex m_lock;
    std::condition_variable m_changed; // with m_lock: queued, woken or stopping
    // --- guarded by m_lock
    std::deque<MediaFileVersion> m_queue;
    std::set<std::string> m_inFlight; // keys queued or being made
    std::list<MediaFileVersion> m_failures; // newest first
    std::function<void(const std::string&, Event)> m_observer;
    bool m_woken = false;
    // ---
    std::atomic<bool> m_stopping { false }; // set under m_lock, read by a pass too
    std::thread m_thread; // last: started when everything else is there
};
