#include "engine/start_timing.h"

#include "engine/engine_log.h"

#include <atomic>
#include <string>

namespace {

constexpr int kSteps = static_cast<int>(StartStep::Count);

std::atomic<long long> g_marks[kSteps] = { -1, -1, -1, -1, -1, -1 };

const char* const kNames[kSteps] = { "open", "probe", "first packet", "first frame decoded",
    "first frame encoded", "first segment written" };

void LogSummary()
{
    std::string line;
    for (int i = 0; i < kSteps; ++i) {
        long long ms = g_marks[i].load();
        if (!line.empty())
            line += ", ";
        line += std::string(kNames[i]) + " " + (ms < 0 ? std::string("-") : std::to_string(ms));
    }
    EngineLog(LogLevel::Info, "start timing (ms since launch): %s", line.c_str());
}

} // namespace

void MarkStartStep(StartStep step)
{
    int index = static_cast<int>(step);
    if (index < 0 || index >= kSteps)
        return;
    long long expected = -1;
    if (g_marks[index].compare_exchange_strong(expected, EngineElapsedMs())
        && step == StartStep::FirstOutput)
        LogSummary();
}

long long StartStepMs(StartStep step)
{
    int index = static_cast<int>(step);
    return index >= 0 && index < kSteps ? g_marks[index].load() : -1;
}
