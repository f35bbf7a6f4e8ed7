#pragma once

// The ENC session list: the process id of every session engine that runs. Its
// length is what "MaxLIveClient" limits. Handlers and the engines' own stops use
// it at once; it has its own lock and calls nothing while holding it.

#include <cstddef>

void AddEncSession(int pid);
// Removes the first entry equal to pid; false when there is none.
bool RemoveEncSession(int pid);
size_t CountEncSessions();
