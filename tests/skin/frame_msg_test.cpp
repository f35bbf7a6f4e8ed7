#include "skin/frame_msg.h"
#include "skin/message_loop.h"

#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace veneta;

namespace {

constexpr MessageId kEcho = 0x8100;
constexpr MessageId kBlock = 0x8101;

// Records which thread ran each message; kEcho answers wParam + lParam.
class RecordingTarget : public IMessageTarget {
public:
    LResult OnMessage(MessageId message, WParam wParam, LParam lParam) override
    {
        lastThread = std::this_thread::get_id();
        ++count;
        if (message == kBlock)
            release.get_future().wait();
        return static_cast<LResult>(wParam) + lParam;
    }
    std::atomic<std::thread::id> lastThread;
    std::atomic<int> count { 0 };
    std::promise<void> release;
};

struct Registration {
    Registration(int index, IMessageTarget* target, IMessageLoop* loop)
        : index(index)
        , target(target)
    {
        CPXFrameMSG::SetTarget(index, target, loop);
    }
    ~Registration() { CPXFrameMSG::ClearTarget(index, target); }
    int index;
    IMessageTarget* target;
};

std::thread::id LoopThreadId(CMessageLoopThread& loop)
{
    std::promise<std::thread::id> id;
    loop.PostTask([&] { id.set_value(std::this_thread::get_id()); });
    return id.get_future().get();
}

} // namespace

TEST(FrameMsg, SendRunsOnTheTargetsLoopAndReturnsItsResult)
{
    CMessageLoopThread loop;
    RecordingTarget target;
    Registration registered(kFrameMainWindow, &target, &loop);

    EXPECT_EQ(CPXFrameMSG::Send(kFrameMainWindow, kEcho, 40, 2), 42);
    EXPECT_EQ(target.lastThread.load(), LoopThreadId(loop));
    EXPECT_NE(target.lastThread.load(), std::this_thread::get_id());
}

TEST(FrameMsg, PostQueuesInOrderWithoutWaiting)
{
    CMessageLoopThread loop;
    RecordingTarget target;
    Registration registered(kFrameConversionList, &target, &loop);

    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    loop.PostTask([opened] { opened.wait(); }); // holds the loop busy
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(CPXFrameMSG::Post(kFrameConversionList, kEcho, static_cast<WParam>(i)));
    EXPECT_EQ(target.count, 0); // nothing ran while the loop was held
    gate.set_value();
    EXPECT_EQ(CPXFrameMSG::Send(kFrameConversionList, kEcho, 1, 1), 2); // runs after the posts
    EXPECT_EQ(target.count, 6);
}

TEST(FrameMsg, SendFromTheLoopItselfRunsAtOnce)
{
    CMessageLoopThread loop;
    RecordingTarget target;
    Registration registered(kFrameMainWindow, &target, &loop);

    std::promise<LResult> inner;
    loop.PostTask([&] { inner.set_value(CPXFrameMSG::Send(kFrameMainWindow, kEcho, 5, 6)); });
    auto result = inner.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "deadlock";
    EXPECT_EQ(result.get(), 11);
}

TEST(FrameMsg, NothingRegisteredGivesZeroAndFalse)
{
    EXPECT_EQ(CPXFrameMSG::GetTarget(9), nullptr);
    EXPECT_EQ(CPXFrameMSG::Send(9, kEcho, 1, 1), 0);
    EXPECT_FALSE(CPXFrameMSG::Post(9, kEcho));
    EXPECT_FALSE(CPXFrameMSG::Post(-1, kEcho));
    EXPECT_FALSE(CPXFrameMSG::Post(kFrameIndexCount, kEcho));
}

TEST(FrameMsg, ClearTargetLeavesASuccessorInPlace)
{
    CMessageLoopThread loop;
    RecordingTarget first;
    RecordingTarget second;
    CPXFrameMSG::SetTarget(kFrameMessageBox, &first, &loop);
    CPXFrameMSG::SetTarget(kFrameMessageBox, &second, &loop);
    CPXFrameMSG::ClearTarget(kFrameMessageBox, &first); // late unregister of the old box
    EXPECT_EQ(CPXFrameMSG::GetTarget(kFrameMessageBox), &second);
    CPXFrameMSG::ClearTarget(kFrameMessageBox, &second);
    EXPECT_EQ(CPXFrameMSG::GetTarget(kFrameMessageBox), nullptr);
}

TEST(FrameMsg, AMessageForATargetThatLeftBeforeItRanIsDropped)
{
    CMessageLoopThread loop;
    RecordingTarget target;
    CPXFrameMSG::SetTarget(kFrameConversionWindow, &target, &loop);
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    loop.PostTask([opened] { opened.wait(); });
    EXPECT_TRUE(CPXFrameMSG::Post(kFrameConversionWindow, kEcho));
    CPXFrameMSG::ClearTarget(kFrameConversionWindow, &target);
    gate.set_value();
    LoopThreadId(loop); // everything queued before has run
    EXPECT_EQ(target.count, 0);
}

TEST(FrameMsg, AWaitingSendIsReleasedWhenTheLoopQuits)
{
    auto loop = std::make_unique<CMessageLoopThread>();
    RecordingTarget target;
    Registration registered(kFrameMainWindow, &target, loop.get());

    auto blocked = std::async(
        std::launch::async, [] { return CPXFrameMSG::Send(kFrameMainWindow, kBlock); });
    while (target.count == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto waiting = std::async(
        std::launch::async, [] { return CPXFrameMSG::Send(kFrameMainWindow, kEcho, 7, 7); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // queued behind the blocked one
    std::thread stopper([&] { loop->Stop(); });
    while (loop->PostTask([] {})) // until the loop has been told to quit
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    target.release.set_value();
    stopper.join();

    EXPECT_EQ(blocked.get(), 0); // kBlock itself ran and answered 0 + 0
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "sender left waiting";
    EXPECT_EQ(waiting.get(), 0); // dropped, never ran
    EXPECT_EQ(target.count, 1);
    EXPECT_FALSE(CPXFrameMSG::Post(kFrameMainWindow, kEcho)); // the loop no longer takes messages
}
