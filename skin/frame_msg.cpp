#include "skin/frame_msg.h"

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace veneta {

namespace {

    struct Slot {
        IMessageTarget* target = nullptr;
        IMessageLoop* loop = nullptr;
    };

    std::mutex g_registryLock;
    std::array<Slot, kFrameIndexCount> g_slots; // guarded by g_registryLock

    bool ValidIndex(int index)
    {
        return index >= 0 && index < kFrameIndexCount;
    }

    Slot Lookup(int index)
    {
        if (!ValidIndex(index))
            return {};
        std::lock_guard lock(g_registryLock);
        return g_slots[static_cast<size_t>(index)];
    }

    // Runs a message when it reaches its loop: only if the same target on the same loop is
    // still registered at that index.
    LResult Deliver(
        int index, const Slot& expected, MessageId message, WParam wParam, LParam lParam)
    {
        Slot current = Lookup(index);
        if (current.target != expected.target || current.loop != expected.loop || !current.target)
            return 0;
        return current.target->OnMessage(message, wParam, lParam);
    }

    // The result of one Send. The loop's copy of the task owns a Completion; when the task
    // has run, or is dropped by a loop that quit, the Completion releases the sender.
    struct SendState {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false; // guarded by lock
        LResult result = 0; // guarded by lock

        void Finish(LResult value)
        {
            {
                std::lock_guard guard(lock);
                if (finished)
                    return;
                finished = true;
                result = value;
            }
            done.notify_all();
        }
    };

    struct Completion {
        std::shared_ptr<SendState> state;
        explicit Completion(std::shared_ptr<SendState> s)
            : state(std::move(s))
        {
        }
        ~Completion() { state->Finish(0); }
    };

} // namespace

bool CPXFrameMSG::SetTarget(int index, IMessageTarget* target, IMessageLoop* loop)
{
    if (!ValidIndex(index) || !target || !loop)
        return false;
    std::lock_guard lock(g_registryLock);
    g_slots[static_cast<size_t>(index)] = Slot { target, loop };
    return true;
}

void CPXFrameMSG::ClearTarget(int index, const IMessageTarget* target)
{
    if (!ValidIndex(index))
        return;
    std::lock_guard lock(g_registryLock);
    Slot& slot = g_slots[static_cast<size_t>(index)];
    if (slot.target == target)
        slot = Slot {};
}

IMessageTarget* CPXFrameMSG::GetTarget(int index)
{
    return Lookup(index).target;
}

bool CPXFrameMSG::Post(int index, MessageId message, WParam wParam, LParam lParam)
{
    Slot slot = Lookup(index);
    if (!slot.target)
        return false;
    return slot.loop->PostTask(
        [index, slot, message, wParam, lParam] { Deliver(index, slot, message, wParam, lParam); });
}

LResult CPXFrameMSG::Send(int index, MessageId message, WParam wParam, LParam lParam)
{
    Slot slot = Lookup(index);
    if (!slot.target)
        return 0;
    if (slot.loop->IsLoopThread())
        return Deliver(index, slot, message, wParam, lParam);

    auto state = std::make_shared<SendState>();
    auto completion = std::make_shared<Completion>(state);
    bool queued = slot.loop->PostTask([index, slot, message, wParam, lParam, completion] {
        completion->state->Finish(Deliver(index, slot, message, wParam, lParam));
    });
    completion.reset(); // from here on only the queued task keeps it alive
    if (!queued)
        return 0;
    std::unique_lock lock(state->lock);
    state->done.wait(lock, [&] { return state->finished; });
    return state->result;
}

} // namespace veneta
