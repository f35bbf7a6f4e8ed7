#include "platform/clock.h"

#include <thread>

Clock::TimePoint SteadyClock::Now()
{
    return std::chrono::steady_clock::now();
}

void SteadyClock::Sleep(std::chrono::milliseconds pause)
{
    std::this_thread::sleep_for(pause);
}
