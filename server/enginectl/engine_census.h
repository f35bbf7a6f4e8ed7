#pragma once

// The engines this server has running, counted so that each new engine learns how
// many share the processors (it sizes its decoder threads by that). Engines are
// noted when started and drop out by themselves once their process has ended or
// its owner let go of it, so no path that stops an engine needs to report it.
//
// Threads: any thread that starts an engine. The list is guarded by its own lock,
// which is never held while a process is examined.

#include "platform/process.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The variable that carries the count, this engine included, to a new engine.
constexpr const char* kEngineCountVariable = "VEMBACAST_ENGINE_COUNT";

class EngineCensus {
public:
    void Note(const std::shared_ptr<ChildProcess>& process);
    // Engines whose process still runs.
    int Running();
    // The value of kEngineCountVariable for an engine about to start.
    std::string CountForNewEngine() { return std::to_string(Running() + 1); }

private:
    std::mutex m_lock;
    // --- guarded by m_lock
    std::vector<std::weak_ptr<ChildProcess>> m_engines;
};
