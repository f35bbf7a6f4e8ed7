#pragma once

// The watcher of a live engine: one detached thread per successful engine start.
// Every second it looks whether its engine has ended (then it takes the engine off
// the ENC session list, should nothing else have, and ends too) and counts
// the session's idle seconds; every segment request of the client sets the count
// back to 0. After 600 idle seconds it stops the engine when less than half of the
// file is made, so a client that went away does not keep a transcoder busy, and an
// engine close to the end may finish. Either way the watcher then ends.
//
// The watcher holds only a weak reference to its session, so it never keeps a
// released session alive, and holds no lock while it waits.

#include <chrono>
#include <cstdint>
#include <memory>

class ClientInfo;

struct SessionWatcherTiming {
    std::chrono::milliseconds tick { 1000 }; // one idle "second"
    int idleLimit = 600; // ticks without a segment request
};

// Tests shorten the watcher's clock; sessions started later use the new timing.
void SetSessionWatcherTiming(SessionWatcherTiming timing);
SessionWatcherTiming GetSessionWatcherTiming();

// Percent of the file made: the position (seconds, to whole milliseconds) against
// the total length in milliseconds, rounded to the nearest integer, at most 100. An
// unknown (zero) length counts as nothing made.
int EngineProgressPercent(double positionSeconds, uint32_t totalMs);

// Starts the watcher of the engine with process id pid.
void StartSessionWatcher(std::weak_ptr<ClientInfo> session, int pid);
