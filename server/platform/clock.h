#pragma once

// Time as the server sees it: the seam through which every lifetime, bound and pause
// of the server reads the clock, so tests can order events by moving a clock of their
// own instead of sleeping. The server object is handed one clock and passes it on.

#include <chrono>

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint Now() = 0;
    // Pauses the calling thread (a test clock may move itself instead).
    virtual void Sleep(std::chrono::milliseconds pause) = 0;
};

// The steady clock and real pauses.
class SteadyClock final : public Clock {
public:
    TimePoint Now() override;
    void Sleep(std::chrono::milliseconds pause) override;
};
