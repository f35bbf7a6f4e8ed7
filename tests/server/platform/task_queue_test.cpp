#include "platform/task_queue.h"

#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// What the tasks did, in the order they did it.
class Record {
public:
    void Add(int value)
    {
        std::lock_guard hold(m_lock);
        m_values.push_back(value);
    }
    std::vector<int> Values()
    {
        std::lock_guard hold(m_lock);
        return m_values;
    }

private:
    std::mutex m_lock;
    std::vector<int> m_values; // guarded by m_lock
};

TEST(TaskQueue, TasksRunInOrderOnTheQueuesThreadAndMayPostMore)
{
    TaskQueue queue;
    Record record;
    std::thread::id ranOn;
    // The queue waits until every task below is posted, so the one posted from the
    // queue's thread comes after them all.
    std::promise<void> gate;
    std::shared_future<void> posted = gate.get_future().share();
    ASSERT_TRUE(queue.Post([posted] { posted.wait(); }));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(queue.Post([&, i] { record.Add(i); }));
    ASSERT_TRUE(queue.Post([&] {
        ranOn = std::this_thread::get_id();
        queue.Post([&] { record.Add(4); });
        throw std::runtime_error("a failing task"); // the queue goes on
    }));
    ASSERT_TRUE(queue.Post([&] { record.Add(3); }));
    gate.set_value();
    ASSERT_TRUE(queue.Drain());
    ASSERT_TRUE(queue.Drain()); // the task posted from the queue came after the first drain
    EXPECT_EQ(record.Values(), (std::vector<int> { 0, 1, 2, 3, 4 }));
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_NE(ranOn, std::thread::id());
}

TEST(TaskQueue, StopFinishesTheTaskInHandDropsTheRestAndRefusesMore)
{
    TaskQueue queue;
    Record record;
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    std::promise<void> started;
    ASSERT_TRUE(queue.Post([&] {
        started.set_value();
        open.wait();
        record.Add(1);
    }));
    ASSERT_TRUE(queue.Post([&] { record.Add(2); }));
    started.get_future().wait();
    std::thread stopper([&] { queue.Stop(); });
    // Stop refuses posts from the moment it drops the waiting tasks.
    while (queue.Post([&] { record.Add(3); }))
        std::this_thread::yield();
    gate.set_value();
    stopper.join();
    EXPECT_EQ(record.Values(), (std::vector<int> { 1 }));
    EXPECT_FALSE(queue.Drain());
}

TEST(TaskQueue, ATaskMayStopItsOwnQueue)
{
    Record record;
    {
        TaskQueue queue;
        ASSERT_TRUE(queue.Post([&] {
            queue.Stop(); // must not join itself
            record.Add(1);
        }));
        queue.Post([&] { record.Add(2); });
        queue.Drain();
    } // the destructor joins the thread
    EXPECT_EQ(record.Values(), (std::vector<int> { 1 }));
}

} // namespace
