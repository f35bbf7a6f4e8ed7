#include "streaming/streaming_context.h"

StreamingContext::StreamingContext(ServerParts parts)
    : LibraryContext(std::move(parts))
    , m_workFolders(Places().ServicesFolder())
    , m_overlayer(Settings(), m_fonts)
    , m_tracks(Launch(), Places().ServicesFolder())
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
