#include "library/library_index.h"

#include "config/trace.h"
#include "library/index_sync.h"
#include "platform/folder_watch.h"

LibraryIndex::LibraryIndex(std::string databaseFile, const SharedFolderList& shares, Clock& clock)
    : m_shares(shares)
    , m_clock(clock)
    , m_store(std::move(databaseFile))
{
}

LibraryIndex::~LibraryIndex()
{
    Stop();
}

void LibraryIndex::Start()
{
    if (m_store.File().empty())
        return;
    std::lock_guard guard(m_lock);
    if (m_thread.joinable())
        return;
    m_watch = std::make_unique<FolderWatch>();
    IndexSyncSetup setup { m_watchBound, m_walkBounds, m_observer, &m_ready };
    m_sync = std::make_unique<IndexSync>(
        m_store, m_shares, m_clock, *m_watch, std::move(setup), m_stopping);
    m_stopping = false;
    m_sharesChanged = true;
    m_thread = std::thread([this] { Run(); });
}

void LibraryIndex::Stop()
{
    std::thread thread;
    {
        std::lock_guard guard(m_lock);
        if (!m_thread.joinable())
            return;
        m_stopping = true;
        m_watch->Wake();
        thread = std::move(m_thread);
    }
    thread.join();
    std::lock_guard guard(m_lock);
    m_sync.reset();
    m_watch.reset();
}

bool LibraryIndex::IsRunning() const
{
    std::lock_guard guard(m_lock);
    return m_thread.joinable();
}

void LibraryIndex::SharesChanged()
{
    m_sharesChanged = true;
    Wake();
}

void LibraryIndex::Wake()
{
    std::lock_guard guard(m_lock);
    if (m_watch)
        m_watch->Wake();
}

void LibraryIndex::SetObserver(IndexObserver observer)
{
    std::lock_guard guard(m_lock);
    m_observer = std::move(observer);
}

void LibraryIndex::SetWatchBound(size_t watches)
{
    std::lock_guard guard(m_lock);
    m_watchBound = watches;
}

void LibraryIndex::SetWalkBounds(const WalkBounds& bounds)
{
    std::lock_guard guard(m_lock);
    m_walkBounds = bounds;
}

void LibraryIndex::Run()
{
    // Set up under the lock before the thread started, and gone only after it ends.
    IndexSync* sync = nullptr;
    {
        std::lock_guard guard(m_lock);
        sync = m_sync.get();
    }
    while (!m_stopping) {
        try {
            sync->Turn(m_sharesChanged.exchange(false));
        } catch (const std::exception& error) {
            // Out of memory in a walk, most likely: the index waits and tries again
            // rather than take the server down.
            TraceMessage(kTraceProgress, "LibraryIndex : turn failed (%s)", error.what());
            m_clock.Sleep(std::chrono::seconds(1));
        }
    }
}
