#include "enginectl/engine_context.h"

EngineContext::EngineContext(ServerParts parts)
    : m_parts(std::move(parts))
    , m_texts(m_parts.places.resourceFolder, m_parts.settings.get())
    , m_pipes(m_parts.places.runtimeFolder)
{
}

EngineLaunch EngineContext::Launch()
{
    return { m_parts.spawner, m_parts.places.programFolder + "/vembacast-engine", &m_pipes,
        &m_census };
}

EngineContext::~EngineContext()
{
    StopNotices();
}
