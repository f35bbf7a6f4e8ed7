#include "conversion/conversion_context.h"

ConversionContext::ConversionContext(ServerParts parts, ConvertQueueTiming timing)
    : StreamingContext(std::move(parts))
    , m_convertQueue(timing)
{
    // The jobs of the last run (of a crash too) come back before the worker starts.
    const std::string dataFolder = Places().dataFolder;
    if (dataFolder.empty())
        return;
    auto store = std::make_shared<ConvertJobStore>(dataFolder + "/" + kConvertJobsDatabaseName);
    m_convertQueue.Restore(RestoreConvertJobs(*this, *store));
    m_convertQueue.SetStore(std::move(store));
}

ConversionContext::~ConversionContext()
{
    StopNotices();
    m_convertQueue.Stop();
}
