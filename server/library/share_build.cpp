#include "library/share_build.h"

#include "config/trace.h"

#include <exception>

ShareBuild::ShareBuild(LibraryIndexStore& store, std::string share, std::string shareFolder)
    : m_store(store)
    , m_share(std::move(share))
    , m_shareFolder(std::move(shareFolder))
    , m_writer([this] { Write(); })
{
}

ShareBuild::~ShareBuild()
{
    if (!m_writer.joinable())
        return;
    ReconcileCounts counts;
    Finish(false, counts);
}

void ShareBuild::Add(std::vector<IndexedFile>&& files)
{
    {
        std::lock_guard guard(m_lock);
        m_batches.push_back(std::move(files));
    }
    m_changed.notify_one();
}

bool ShareBuild::Finish(bool complete, ReconcileCounts& counts)
{
    {
        std::lock_guard guard(m_lock);
        m_walk = complete ? Walk::Complete : Walk::Abandoned;
    }
    m_changed.notify_one();
    m_writer.join();
    counts = m_counts;
    return m_written;
}

void ShareBuild::Write()
{
    try {
        m_written = m_store.WriteShare(
            m_share, m_shareFolder, [this](std::vector<IndexedFile>& batch) { return Next(batch); },
            m_counts);
    } catch (const std::exception& error) {
        // Out of memory, most likely: the transaction was rolled back on the way out.
        TraceMessage(kTraceProgress, "LibraryIndex : writing '%s' failed (%s)", m_share.c_str(),
            error.what());
        m_written = false;
    }
}

FileBatch ShareBuild::Next(std::vector<IndexedFile>& batch)
{
    std::unique_lock guard(m_lock);
    m_changed.wait(guard, [this] { return !m_batches.empty() || m_walk != Walk::Going; });
    if (m_walk == Walk::Abandoned)
        return FileBatch::Abandoned;
    if (!m_batches.empty()) {
        batch = std::move(m_batches.front());
        m_batches.pop_front();
        return FileBatch::More;
    }
    return FileBatch::Last;
}
