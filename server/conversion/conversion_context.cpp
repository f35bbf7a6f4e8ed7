#include "conversion/conversion_context.h"

ConversionContext::ConversionContext(ServerParts parts, ConvertQueueTiming timing)
    : StreamingContext(std::move(parts))
    , m_convertQueue(timing)
{
}

ConversionContext::~ConversionContext()
{
    StopNotices();
    m_convertQueue.Stop();
}
