#include "enginectl/engine_census.h"

#include <algorithm>

void EngineCensus::Note(const std::shared_ptr<ChildProcess>& process)
{
    if (!process)
        return;
    std::lock_guard guard(m_lock);
    m_engines.push_back(process);
}

int EngineCensus::Running()
{
    std::vector<std::shared_ptr<ChildProcess>> alive;
    {
        std::lock_guard guard(m_lock);
        std::erase_if(m_engines, [](const auto& engine) { return engine.expired(); });
        for (const auto& engine : m_engines)
            if (auto process = engine.lock())
                alive.push_back(std::move(process));
    }
    std::vector<ChildProcess*> ended;
    for (const auto& process : alive)
        if (!process->IsRunning())
            ended.push_back(process.get());
    if (!ended.empty()) {
        std::lock_guard guard(m_lock);
        std::erase_if(m_engines, [&](const auto& engine) {
            auto process = engine.lock();
            return !process || std::find(ended.begin(), ended.end(), process.get()) != ended.end();
        });
    }
    return int(alive.size() - ended.size());
}
