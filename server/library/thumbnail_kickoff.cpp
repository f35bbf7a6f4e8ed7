// Thumbnail making for every shared folder, started when the server starts: the
// jobs a listing of each share's folder would queue go to the pool at once, so
// the first listings find their pictures made. The work runs on one background
// thread of its own so that the caller (the server start worker) returns at once;
// a request while it runs makes it go round once more for shares added meanwhile.

#include "library/thumbnail_kickoff.h"

#include "config/trace.h"
#include "library/folder_listing.h"
#include "library/thumbnail.h"

#include <mutex>
#include <system_error>
#include <thread>

namespace {

struct KickOff {
    std::mutex lock;
    std::thread thread; // guarded by lock
    bool running = false; // guarded by lock
    bool again = false; // guarded by lock
};

// Never destroyed: the thread may still run while the process exits.
KickOff& State()
{
    static KickOff* state = new KickOff;
    return *state;
}

void Run(KickOff& state)
{
    for (;;) {
        try {
            std::vector<ThumbInfo> jobs = CollectShareThumbnailJobs();
            TraceMessage(kTraceProgress, "Thumbnail kick-off : %zu new thumbnails", jobs.size());
            if (QZ_AddThumbnailJobs(std::move(jobs)) > 0)
                QZ_StartThumbnailThreads();
        } catch (...) {
            TraceMessage(kTraceProgress, "Thumbnail kick-off : failed");
        }
        std::lock_guard<std::mutex> hold(state.lock);
        if (!state.again) {
            state.running = false;
            return;
        }
        state.again = false;
    }
}

} // namespace

void QZ_StartShareThumbnails()
{
    KickOff& state = State();
    std::thread finished;
    {
        std::lock_guard<std::mutex> hold(state.lock);
        if (state.running) {
            state.again = true;
            return;
        }
        finished = std::move(state.thread);
        try {
            state.thread = std::thread(Run, std::ref(state));
            state.running = true;
        } catch (const std::system_error&) {
            TraceMessage(kTraceProgress, "Thumbnail kick-off : no thread");
        }
    }
    if (finished.joinable())
        finished.join(); // it has left Run already
}

bool IsShareThumbnailKickOffRunning()
{
    KickOff& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    return state.running;
}

bool ReapShareThumbnailKickOff()
{
    KickOff& state = State();
    std::thread finished;
    {
        std::lock_guard<std::mutex> hold(state.lock);
        if (state.running)
            return false;
        finished = std::move(state.thread);
    }
    if (finished.joinable())
        finished.join();
    return true;
}
