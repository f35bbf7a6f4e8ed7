#pragma once

// The few threads that run the device's SOAP actions (a browse reads folders and
// media properties, which may take long when nothing is cached yet), so the device's
// own thread only answers discovery and hands work over.
//
// Threads: Post from any thread; the workers take tasks in order. Stop drops the
// tasks not started and joins the workers, each after its task in hand.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class ActionWorkers {
public:
    explicit ActionWorkers(unsigned count);
    ~ActionWorkers(); // Stop
    ActionWorkers(const ActionWorkers&) = delete;
    ActionWorkers& operator=(const ActionWorkers&) = delete;

    // False once stopped (the task is dropped).
    bool Post(std::function<void()> task);
    void Stop();

private:
    void Work();

    std::mutex m_lock;
    std::condition_variable m_wake; // with m_lock: a task came or Stop
    // --- guarded by m_lock
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    // ---
    std::vector<std::thread> m_threads; // made in the constructor, joined by Stop
};
