#include "streaming/streaming_context.h"

#include <algorithm>
#include <thread>

StreamingContext::StreamingContext(ServerParts parts)
    : LibraryContext(std::move(parts))
    , m_workFolders(Places().ServicesFolder())
    , m_overlayer(Settings(), m_fonts)
    , m_tracks(Launch(), Places().ServicesFolder())
    // Previews wait while the engines already fill the processors.
    , m_previews(
          Launch(), Places().ServicesFolder(),
          [this] {
              return Census().Running() >= int(std::max(1u, std::thread::hardware_concurrency()));
          },
          [this] { return PreviewDiskBound(Settings()); })
    , m_sessions(*this)
{
}

StreamingContext::~StreamingContext()
{
    StopNotices();
    m_sessions.QZ_FreeClientInfoList();
    m_watcher.Stop();
}

SegmentServingLimits StreamingContext::SegmentLimits() const
{
    std::lock_guard lock(m_limitsLock);
    return m_limits;
}

void StreamingContext::SetSegmentServingLimits(const SegmentServingLimits& limits)
{
    std::lock_guard lock(m_limitsLock);
    m_limits = limits;
}
