#pragma once

// The ENC session list: the session engines of one server that run. Its length is
// what "MaxLIveClient" limits. An engine is named by its session engine object, not
// by its process id: the process id lives with the engine alone. Handlers and the
// engines' own stops use it at once; it has its own lock and calls nothing while
// holding it.

#include <cstddef>
#include <mutex>
#include <vector>

class EncSessionList {
public:
    void AddEncSession(const void* engine);
    // Removes the entry of engine; false when there is none.
    bool RemoveEncSession(const void* engine);
    size_t CountEncSessions() const;

private:
    mutable std::mutex m_lock;
    std::vector<const void*> m_engines; // guarded by m_lock
};
