#include "platform/folder_watch.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr uint32_t kWatchedChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO
    | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

uint32_t ChangeBits(uint32_t mask)
{
    uint32_t what = 0;
    if (mask & IN_CREATE)
        what |= kEntryCreated;
    if (mask & IN_DELETE)
        what |= kEntryDeleted;
    if (mask & IN_MOVED_FROM)
        what |= kEntryMovedOut;
    if (mask & IN_MOVED_TO)
        what |= kEntryMovedIn;
    if (mask & IN_CLOSE_WRITE)
        what |= kEntryWritten;
    if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))
        what |= kFolderGone;
    if (mask & IN_IGNORED)
        what |= kWatchEnded;
    if (mask & IN_Q_OVERFLOW)
        what |= kEventsLost;
    return what;
}

} // namespace

FolderWatch::FolderWatch()
    : m_inotify(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    , m_wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

WatchResult FolderWatch::Add(const std::string& folder, int& watch)
{
    watch = -1;
    if (!m_inotify)
        return WatchResult::Failed;
    const int added = inotify_add_watch(m_inotify.Get(), folder.c_str(), kWatchedChanges);
    if (added >= 0) {
        watch = added;
        return WatchResult::Added;
    }
    return errno == ENOSPC ? WatchResult::LimitReached : WatchResult::Failed;
}

void FolderWatch::Remove(int watch)
{
    if (m_inotify && watch >= 0)
        inotify_rm_watch(m_inotify.Get(), watch);
}

void FolderWatch::Wake()
{
    const uint64_t one = 1;
    if (m_wake)
        (void)!write(m_wake.Get(), &one, sizeof one);
}

std::vector<FolderEvent> FolderWatch::Wait(std::chrono::milliseconds timeout)
{
    pollfd waits[2] = { { m_inotify.Get(), POLLIN, 0 }, { m_wake.Get(), POLLIN, 0 } };
    const int ready = poll(waits, 2, static_cast<int>(timeout.count()));
    if (ready <= 0)
        return {};
    if (waits[1].revents & POLLIN) {
        uint64_t count = 0;
        (void)!read(m_wake.Get(), &count, sizeof count);
    }
    if (waits[0].revents & POLLIN)
        return ReadEvents();
    return {};
}

std::vector<FolderEvent> FolderWatch::ReadEvents()
{
    std::vector<FolderEvent> events;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = read(m_inotify.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        size_t at = 0;
        while (at + sizeof(inotify_event) <= static_cast<size_t>(got)) {
            inotify_event header;
            std::memcpy(&header, buffer + at, sizeof header);
            const char* name = buffer + at + sizeof header;
            FolderEvent event;
            event.watch = header.wd;
            event.what = ChangeBits(header.mask);
            event.folder = (header.mask & IN_ISDIR) != 0;
            event.cookie = header.cookie;
            if (header.len > 0)
                event.name.assign(name, strnlen(name, header.len));
            events.push_back(std::move(event));
            at += sizeof header + header.len;
        }
    }
    return events;
}
