#pragma once

// A queue of tasks run one after the other on a thread of its own: how a thread that
// must not do the work itself (an engine's pipe reader, which a stop would have to
// join) hands it to someone who may.
//
// Threads: Post from any thread; the tasks run on the queue's thread in the order they
// were posted. m_lock guards the list and the stop flag only; a task runs with no lock
// held, so it may post further tasks. Stop ends the thread after the task in hand; the
// tasks still waiting are dropped, and later posts are refused.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class TaskQueue {
public:
    TaskQueue();
    ~TaskQueue(); // Stop
    TaskQueue(const TaskQueue&) = delete;
    TaskQueue& operator=(const TaskQueue&) = delete;

    // False when the queue has stopped (the task is dropped).
    bool Post(std::function<void()> task);
    // Joins the thread; from the queue's own thread it only marks the queue stopped.
    void Stop();
    // Waits until every task posted before the call has run (tests, orderly shutdown).
    // False when the queue stopped first.
    bool Drain();

private:
    void Run();

    std::mutex m_lock;
    std::condition_variable m_wake;
    // --- guarded by m_lock
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    unsigned long long m_posted = 0;
    unsigned long long m_done = 0;
    // ---
    std::condition_variable m_progress; // with m_lock: m_done moved
    std::thread m_thread; // started in the constructor, joined by Stop
};
