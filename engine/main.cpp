// vembacast-engine: one encoding job per process, steered by the server over
// two Unix sockets (see control_channel.h), or run by hand without -pipename.
//
// Threads: the main thread prepares the job, waits for the server's start,
// runs the pipeline (scheduler.h) on a worker and meanwhile sends the status
// every 250 ms; the channel's reader thread turns a quit or a vanished server
// into an abort, after which a watchdog ends the process if the pipeline has
// not wound down well within the server's 1500 ms.

#include "engine/control_channel.h"
#include "engine/engine_log.h"
#include "engine/keyframe_index.h"
#include "engine/options.h"
#include "engine/scheduler.h"
#include "engine/seek_previews.h"
#include "engine/text_subtitles.h"
#include "engine/thumbnail.h"
#include "engine/track_list.h"

#include <atomic>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr auto kStatusInterval = std::chrono::milliseconds(250);
constexpr auto kQuitGrace = std::chrono::milliseconds(1100);

pid_t g_parent = 0;

// The kernel sends this when the thread that started us ends; that is the
// server going away only when we have been handed to another parent.
void OnParentDeath(int)
{
    if (getppid() != g_parent)
        _exit(3);
}

void WatchParent()
{
    g_parent = getppid();
    struct sigaction action { };
    action.sa_handler = OnParentDeath;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR2, &action, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGUSR2);
    if (getppid() != g_parent) // the parent died before the request took hold
        _exit(3);
}

void StartExitWatchdog()
{
    static std::atomic<bool> started { false };
    if (started.exchange(true))
        return;
    std::thread([] {
        std::this_thread::sleep_for(kQuitGrace);
        EngineLog(LogLevel::Warning, "stages did not stop in time; exiting");
        _exit(0);
    }).detach();
}

bool FileExists(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string PipeFolder()
{
    if (const char* folder = getenv("VEMBACAST_PIPE_DIR"); folder && *folder)
        return folder;
    if (const char* runtime = getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/vembacast-" + std::to_string(getppid());
    return "/tmp/vembacast-" + std::to_string(getuid()) + "-" + std::to_string(getppid());
}

void SendStatus(ControlChannel& channel, uint8_t type, const JobControl& control, uint32_t totalMs)
{
    std::vector<uint8_t> payload = MakeStatusPayload(
        1, static_cast<uint32_t>(control.framesEncoded.load()), control.position.load(), totalMs);
    channel.Send(type, payload.data(), static_cast<uint32_t>(payload.size()));
}

void SendError(ControlChannel& channel, EngineError code)
{
    uint8_t payload[4] = { static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8),
        static_cast<uint8_t>(code >> 16), static_cast<uint8_t>(code >> 24) };
    channel.Send(EngineMessage::Error, payload, sizeof payload);
}

int RunEncode(const EngineOptions& options, ControlChannel& channel, JobControl& control)
{
    Scheduler scheduler(options, control);
    EngineError prepared = scheduler.Prepare();
    if (!channel.WaitForStart())
        return 0; // quit before the start: nothing to report
    // Told to quit while the input was still opening: the failure is the quit's.
    if (prepared != kErrorNone && control.Aborted())
        return 0;
    if (prepared != kErrorNone) {
        SendError(channel, prepared);
        return 1;
    }
    std::mutex lock;
    std::condition_variable finished;
    bool done = false; // guarded by lock
    EngineError result = kErrorNone;
    std::thread worker([&] {
        EngineError outcome = scheduler.Run();
        std::lock_guard guard(lock);
        result = outcome;
        done = true;
        finished.notify_all();
    });
    {
        std::unique_lock guard(lock);
        while (!finished.wait_for(guard, kStatusInterval, [&] { return done; })) {
            if (!control.Aborted())
                SendStatus(channel, EngineMessage::Status, control, scheduler.TotalMs());
        }
    }
    worker.join();
    if (channel.QuitReceived())
        return 0;
    if (result != kErrorNone) {
        SendError(channel, result);
        return 1;
    }
    SendStatus(channel, EngineMessage::Status, control, scheduler.TotalMs());
    SendStatus(channel, EngineMessage::Complete, control, scheduler.TotalMs());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    setlocale(LC_CTYPE, "C.UTF-8");
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("vembacast-engine (VembaCast) %s\n", VEMBACAST_VERSION_TEXT);
        return 0;
    }
    signal(SIGPIPE, SIG_IGN);
    InitEngineLog();
    WatchParent();

    std::vector<std::string> args(argv + 1, argv + argc);
    EngineOptions options = ParseEngineCommandLine(args, FileExists);
    for (const std::string& note : options.notes)
        EngineLog(LogLevel::Info, "%s", note.c_str());

    // The one-shot modes have no server on pipes: their caller bounds them in time.
    if (options.IsKeyframeIndexRun())
        return RunKeyframeIndex(options.keyframesInput, options.output);
    if (options.IsTrackListRun())
        return RunTrackList(options.tracksInput, options.output);
    if (options.IsPreviewRun())
        return RunSeekPreviews(options.previewsInput, options.output);
    if (options.IsTextSubtitleRun())
        return RunTextSubtitles(options.input, options.textSubtitleTrack, options.output);

    JobControl control;
    ControlChannel channel;
    if (options.pipeNumber > 0) {
        if (!channel.Connect(PipeFolder(), options.pipeNumber))
            return 2;
    } else {
        channel.UseDetached();
    }
    channel.Start([&control] {
        control.Abort();
        StartExitWatchdog();
    });

    if (options.IsThumbnailRun()) {
        ServeThumbnails(channel, control);
        return 0;
    }
    return RunEncode(options, channel, control);
}
