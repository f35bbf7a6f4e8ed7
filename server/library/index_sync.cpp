#include "library/index_sync.h"

#include "config/trace.h"
#include "library/folder_listing.h"
#include "library/share_build.h"
#include "library/shared_folders.h"

#include <algorithm>

namespace {

// The longest wait for changes; a wake or an event ends it earlier.
constexpr std::chrono::milliseconds kLongestWait { 60000 };
// Moves out whose move in has not come yet (it may come in a later read).
constexpr size_t kRememberedMoves = 1024;

std::string Join(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

bool IsAtOrBelow(const std::string& path, const std::string& folder)
{
    return folder.empty() || path == folder
        || (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/');
}

} // namespace

IndexSync::IndexSync(LibraryIndexStore& store, const SharedFolderList& shares, Clock& clock,
    FolderWatch& watch, IndexSyncSetup setup, const std::atomic<bool>& stopping)
    : m_store(store)
    , m_shares(shares)
    , m_clock(clock)
    , m_watch(watch)
    , m_setup(std::move(setup))
    , m_stopping(stopping)
{
}

void IndexSync::Turn(bool sharesChanged)
{
    if (sharesChanged)
        CompareShares();
    WalkDueShares();
    if (m_stopping)
        return;
    const std::vector<FolderEvent> events = m_watch.Wait(WaitTime());
    if (!events.empty())
        HandleEvents(events);
}

void IndexSync::CompareShares()
{
    std::map<std::string, std::string> current;
    for (const SharedFolder& share : m_shares.GetSharedFolders())
        current[share.name] = share.path;
    std::vector<std::string> gone;
    for (const auto& [name, state] : m_indexed) {
        auto now = current.find(name);
        if (now == current.end() || now->second != state.folder)
            gone.push_back(name);
    }
    for (const std::string& name : gone)
        DropShare(name);
    // What an earlier run indexed for shares that have gone or moved since.
    if (auto stored = m_store.Shares()) {
        for (const auto& [name, folder] : *stored) {
            auto now = current.find(name);
            if (!m_indexed.count(name) && (now == current.end() || now->second != folder))
                DropShare(name);
        }
    }
    for (const auto& [name, folder] : current) {
        if (m_stopping)
            return;
        if (m_indexed.count(name))
            continue;
        m_indexed[name].folder = folder;
        WalkWholeShare(name);
    }
    if (m_setup.ready && !m_stopping)
        *m_setup.ready = true;
}

void IndexSync::DropShare(const std::string& share)
{
    Flush();
    Unwatch(share, "", true);
    m_indexed.erase(share);
    if (!m_store.DropShare(share))
        TraceMessage(kTraceProgress, "LibraryIndex : could not drop '%s'", share.c_str());
    Notify(IndexNotice::Kind::ShareDropped, share, "");
}

void IndexSync::WalkWholeShare(const std::string& share)
{
    Flush();
    auto found = m_indexed.find(share);
    if (found == m_indexed.end())
        return;
    ShareState& state = found->second;
    state.fullyWatched = true;
    const auto started = m_clock.Now();
    // The rows are written while the walk goes on.
    ShareBuild build(m_store, share, state.folder);
    WalkResult walk = WalkShare(
        share, state.folder, "", m_setup.walkBounds,
        [this, &share](
            const std::string& relative, const std::string& disk) { Watch(share, relative, disk); },
        m_stopping, [&build](std::vector<IndexedFile>&& files) { build.Add(std::move(files)); });
    ReconcileCounts counts;
    // A part of the share is no reason to drop the rest of its rows: nothing is written.
    const bool written = build.Finish(!walk.stopped, counts);
    if (walk.stopped)
        return;
    if (!written)
        TraceMessage(kTraceProgress, "LibraryIndex : could not write '%s'", share.c_str());
    TraceMessage(kTraceProgress,
        "LibraryIndex : '%s' walked, %zu files (+%zu ~%zu -%zu) in %lld ms", share.c_str(),
        walk.found, counts.added, counts.updated, counts.removed,
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(m_clock.Now() - started)
                .count()));
    if (state.fullyWatched) {
        state.walkDue.reset();
    } else {
        state.walkDue = m_clock.Now() + kLimitedRescanInterval;
        TraceMessage(kTraceProgress,
            "LibraryIndex : '%s' is not watched whole; walked again in %d min", share.c_str(),
            static_cast<int>(kLimitedRescanInterval.count()));
    }
    Notify(IndexNotice::Kind::ShareIndexed, share, "");
    if (!state.fullyWatched)
        Notify(IndexNotice::Kind::WatchLimitReached, share, "");
}

void IndexSync::WalkFolder(const std::string& share, const std::string& relative)
{
    Flush();
    auto found = m_indexed.find(share);
    if (found == m_indexed.end())
        return;
    const std::string folder = found->second.folder;
    WalkResult walk = WalkShare(
        share, folder, relative, m_setup.walkBounds,
        [this, &share](
            const std::string& rel, const std::string& disk) { Watch(share, rel, disk); },
        m_stopping);
    if (walk.stopped)
        return;
    ReconcileCounts counts;
    m_store.Reconcile(share, folder, relative + "/", walk.files, counts);
    Notify(IndexNotice::Kind::FolderIndexed, share, relative);
}

void IndexSync::Watch(
    const std::string& share, const std::string& relative, const std::string& disk)
{
    ShareState& state = m_indexed[share];
    if (m_setup.watchBound > 0 && m_watched.size() >= m_setup.watchBound) {
        state.fullyWatched = false;
        return;
    }
    int watch = -1;
    switch (m_watch.Add(disk, watch)) {
    case WatchResult::Added: {
        std::vector<WatchedFolder>& places = m_watched[watch];
        const bool known = std::any_of(places.begin(), places.end(),
            [&](const WatchedFolder& f) { return f.share == share && f.relative == relative; });
        if (!known)
            places.push_back({ share, relative });
        return;
    }
    case WatchResult::LimitReached:
        state.fullyWatched = false;
        return;
    case WatchResult::Failed:
        // A share whose folder is not there yet is looked at again in time.
        if (relative.empty())
            state.fullyWatched = false;
        return;
    }
}

void IndexSync::Unwatch(const std::string& share, const std::string& relative, bool below)
{
    for (auto it = m_watched.begin(); it != m_watched.end();) {
        std::vector<WatchedFolder>& places = it->second;
        std::erase_if(places, [&](const WatchedFolder& f) {
            return f.share == share
                && (below ? IsAtOrBelow(f.relative, relative) : f.relative == relative);
        });
        if (places.empty()) {
            m_watch.Remove(it->first);
            it = m_watched.erase(it);
        } else {
            ++it;
        }
    }
}

void IndexSync::WalkDueShares()
{
    const auto now = m_clock.Now();
    std::vector<std::string> due;
    for (const auto& [name, state] : m_indexed) {
        if (state.walkDue && *state.walkDue <= now)
            due.push_back(name);
    }
    for (const std::string& name : due) {
        if (m_stopping)
            return;
        WalkWholeShare(name);
    }
}

std::chrono::milliseconds IndexSync::WaitTime()
{
    std::chrono::milliseconds wait = kLongestWait;
    const auto now = m_clock.Now();
    for (const auto& [name, state] : m_indexed) {
        if (!state.walkDue)
            continue;
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(*state.walkDue - now);
        wait = std::clamp(left, std::chrono::milliseconds(0), wait);
    }
    return wait;
}

void IndexSync::HandleEvents(const std::vector<FolderEvent>& events)
{
    bool lost = false;
    for (const FolderEvent& event : events) {
        if (m_stopping)
            return;
        if (event.what & kEventsLost) {
            lost = true;
            continue;
        }
        auto found = m_watched.find(event.watch);
        if (found == m_watched.end())
            continue;
        if (event.what & kWatchEnded) {
            m_watched.erase(found);
            continue;
        }
        // A copy: handling an entry may add or drop watches.
        const std::vector<WatchedFolder> places = found->second;
        for (const WatchedFolder& place : places) {
            if (event.name.empty()) {
                // The share's own folder went: a walk finds out what is left.
                if ((event.what & kFolderGone) && place.relative.empty()
                    && m_indexed.count(place.share))
                    m_indexed[place.share].walkDue = m_clock.Now();
                continue;
            }
            HandleEntry(place, event);
        }
    }
    Flush();
    if (lost) {
        TraceMessage(
            kTraceProgress, "LibraryIndex : changes were lost; the shares are walked again");
        for (auto& [name, state] : m_indexed)
            state.walkDue = m_clock.Now();
    }
}

void IndexSync::HandleEntry(const WatchedFolder& where, const FolderEvent& event)
{
    auto share = m_indexed.find(where.share);
    if (share == m_indexed.end())
        return;
    const std::string relative = Join(where.relative, event.name);
    if (event.what & (kEntryDeleted | kEntryMovedOut)) {
        IndexChange change;
        change.file.share = where.share;
        change.file.relativePath = relative;
        if (event.folder) {
            Unwatch(where.share, relative, true);
            change.kind = IndexChange::Kind::RemoveFolder;
        } else {
            change.kind = IndexChange::Kind::Remove;
            if (event.what & kEntryMovedOut)
                RememberMove(event.cookie, where.share, relative);
        }
        m_changes.push_back(std::move(change));
    }
    if (!(event.what & (kEntryCreated | kEntryMovedIn | kEntryWritten)))
        return;
    const std::string& shareFolder = share->second.folder;
    std::optional<ListedEntry> entry = LookAtEntry(ShareDiskFolder(shareFolder, where.relative),
        event.name, shareFolder, HiddenFiles::LeftOut);
    if (!entry)
        return;
    if (entry->folder) {
        WalkFolder(where.share, relative);
        return;
    }
    IndexChange change;
    change.kind = IndexChange::Kind::Put;
    change.file = { where.share, relative, entry->size, entry->modifiedNs, entry->changedNs };
    // A rename keeps the time the file was added (its change time is the rename's).
    auto moved = (event.what & kEntryMovedIn) ? m_movedOut.find(event.cookie) : m_movedOut.end();
    if (moved != m_movedOut.end()) {
        if (moved->second.share == where.share)
            change.file.addedNs = moved->second.addedNs;
        m_movedOut.erase(moved);
    }
    m_changes.push_back(std::move(change));
}

void IndexSync::RememberMove(uint32_t cookie, const std::string& share, const std::string& relative)
{
    // The row is still there: the batch that removes it is written later.
    std::optional<IndexedFile> row = m_store.Find(share, relative);
    if (!row)
        return;
    if (m_movedOut.size() >= kRememberedMoves)
        m_movedOut.clear(); // moves whose other half never came (moved out of the shares)
    m_movedOut[cookie] = { share, row->addedNs };
}

void IndexSync::Flush()
{
    if (m_changes.empty())
        return;
    std::vector<IndexChange> changes;
    changes.swap(m_changes);
    if (!m_store.Apply(changes))
        TraceMessage(
            kTraceProgress, "LibraryIndex : %zu changes could not be written", changes.size());
    for (const IndexChange& change : changes) {
        const std::string& share = change.file.share;
        switch (change.kind) {
        case IndexChange::Kind::Put:
            Notify(IndexNotice::Kind::FileIndexed, share, change.file.relativePath);
            break;
        case IndexChange::Kind::Remove:
            Notify(IndexNotice::Kind::FileRemoved, share, change.file.relativePath);
            break;
        case IndexChange::Kind::RemoveFolder:
            Notify(IndexNotice::Kind::FolderRemoved, share, change.file.relativePath);
            break;
        }
    }
}

void IndexSync::Notify(
    IndexNotice::Kind kind, const std::string& share, const std::string& relative)
{
    if (m_setup.observer)
        m_setup.observer({ kind, share, relative });
}
