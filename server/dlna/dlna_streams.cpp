#include "dlna/dlna_streams.h"

#include "config/settings.h"
#include "config/trace.h"
#include "dlna/media_catalog.h"
#include "dlna/media_profiles.h"
#include "dlna/stream_line.h"
#include "http/request.h"
#include "library/keyframe_index.h"
#include "library/keyframe_indexer.h"
#include "platform/guid.h"
#include "platform/process.h"
#include "streaming/session_list.h"
#include "streaming/streaming_context.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// No new segment for this long: the engine is stuck and the stream ends.
constexpr std::chrono::seconds kStallLimit { 60 };
constexpr std::chrono::milliseconds kPollPause { 10 };

// What the engine's reader thread tells the stream; read by the stream's worker.
struct RunEnd {
    std::atomic<bool> complete { false };
    std::atomic<bool> failed { false };
};

bool FileExists(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Sends a whole segment file; false once the screen has gone.
bool SendSegment(HttpRequest& request, const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true; // swept away meanwhile: the next one follows
    std::vector<char> buffer(64 * 1024);
    bool open = true;
    for (;;) {
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got <= 0)
            break;
        if (!request.Write(std::string_view(buffer.data(), static_cast<size_t>(got)))) {
            open = false;
            break;
        }
    }
    close(fd);
    return open;
}

enum class SegmentTurn { Ready, Finished, Stalled, Cancelled };

SegmentTurn WaitForSegment(StreamingContext& server, const std::string& path, SessionEngine& engine,
    const RunEnd& end, const std::atomic<bool>& cancelled)
{
    Clock& clock = server.Time();
    const Clock::TimePoint limit = clock.Now() + kStallLimit;
    for (;;) {
        if (cancelled)
            return SegmentTurn::Cancelled;
        if (FileExists(path))
            return SegmentTurn::Ready;
        // The engine renames its last segment before it reports the end, so a
        // segment missing after the end never comes.
        if (end.complete || end.failed || !engine.IsRunning())
            return FileExists(path) ? SegmentTurn::Ready : SegmentTurn::Finished;
        if (clock.Now() >= limit)
            return SegmentTurn::Stalled;
        clock.Sleep(kPollPause);
    }
}

std::string StreamHeaders(double start, double duration, bool seek, const std::string& extra)
{
    std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(kStreamMimeType)
        + "\r\nConnection: close\r\ntransferMode.dlna.org: Streaming\r\n"
          "contentFeatures.dlna.org: "
        + StreamContentFeatures() + "\r\n" + extra;
    if (seek)
        headers += "TimeSeekRange.dlna.org: " + TimeSeekAnswer(start, duration) + "\r\n";
    return headers + "\r\n";
}

// The key frame at or before start from the file's index, so the engine seeks
// straight to it; -1 while the index is not known (a pass then starts in the
// background, and this run probes as before).
double KeyframeBefore(StreamingContext& server, const std::string& path, double start)
{
    if (start <= 0)
        return -1;
    KeyframeIndexer::Lookup lookup = server.Keyframes().Find(path);
    if (lookup.state == KeyframeIndexer::State::Unknown)
        server.Keyframes().Request(path);
    if (!lookup.index)
        return -1;
    return KeyframeAtOrBefore(lookup.index->keyframes, start).value_or(-1);
}

} // namespace

DlnaStreams::DlnaStreams(StreamingContext& server)
    : m_server(server)
{
}

DlnaStreams::Flag DlnaStreams::Register()
{
    std::lock_guard lock(m_lock);
    if (m_closed)
        return nullptr;
    Flag flag = std::make_shared<std::atomic<bool>>(false);
    m_running.insert(flag);
    return flag;
}

void DlnaStreams::Unregister(const Flag& flag)
{
    std::lock_guard lock(m_lock);
    m_running.erase(flag);
}

void DlnaStreams::CancelAll()
{
    std::lock_guard lock(m_lock);
    m_closed = true;
    for (const Flag& flag : m_running)
        *flag = true;
}

void DlnaStreams::Open()
{
    std::lock_guard lock(m_lock);
    m_closed = false;
}

size_t DlnaStreams::Running() const
{
    std::lock_guard lock(m_lock);
    return m_running.size();
}

void DlnaStreams::Serve(HttpRequest& request, const CatalogObject& video, int boxHeight,
    const std::string& mediaHeaders)
{
    MediaProperties properties;
    if (!m_server.Media().ReadMediaProperties(video.diskPath, properties) || properties.width <= 0
        || properties.height <= 0) {
        request.SendError(404, "Not Found");
        return;
    }
    const double duration = static_cast<double>(properties.durationMs) / 1000.0;
    double start = 0;
    const std::optional<std::string> seekHeader = request.Header("TimeSeekRange.dlna.org");
    if (seekHeader) {
        start = ParseTimeSeekStart(*seekHeader);
        if (start < 0) {
            request.SendError(400, "Bad Request");
            return;
        }
        if (duration > 0 && start >= duration) {
            request.Write("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n"
                          "Connection: close\r\n\r\n");
            return;
        }
    }
    if (!QZ_IsLiveClientRoom(m_server)) {
        request.SendError(503, "Service Unavailable");
        return;
    }
    if (request.IsHead()) {
        request.Write(StreamHeaders(start, duration, seekHeader.has_value(), mediaHeaders));
        return;
    }
    Flag cancelled = Register();
    if (!cancelled) {
        request.SendError(503, "Service Unavailable");
        return;
    }

    const std::string id = CreateGuidHex();
    const std::string folder = m_server.WorkFolders().SessionWorkFolder(id);
    CreateFolderPath(folder);
    m_server.WorkFolders().RememberWorkFolder(folder);
    auto end = std::make_shared<RunEnd>();
    SessionEngine engine(id, m_server.Launch(), m_server.EncSessions(),
        [end](EngineNotice notice, uint64_t, uint32_t) {
            (notice == EngineNotice::Complete ? end->complete : end->failed) = true;
        });
    StreamLine line { video.diskPath, start, boxHeight, properties.width, properties.height,
        properties.rotation, KeyframeBefore(m_server, video.diskPath, start),
        std::thread::hardware_concurrency(), folder, 0 };
    std::vector<std::string> arguments;
    uint64_t run = 0;
    const LiveStart started = engine.Restart(
        [&line](int pipeNumber, std::vector<std::string>& words) {
            line.pipeNumber = pipeNumber;
            words = MakeStreamCommandLine(line);
            return SessionEngine::Line::Built;
        },
        arguments, run);
    TraceMessage(kTraceEncoderParam, "DLNA stream : %s", CommandLineText(arguments).c_str());
    if (started != LiveStart::Started) {
        request.SendError(500, "Internal Server Error");
    } else if (request.Write(
                   StreamHeaders(start, duration, seekHeader.has_value(), mediaHeaders))) {
        for (int segment = FirstStreamSegment(start);; ++segment) {
            const std::string path = StreamSegmentPath(folder, segment);
            const SegmentTurn wait = WaitForSegment(m_server, path, engine, *end, *cancelled);
            if (wait != SegmentTurn::Ready) {
                if (wait == SegmentTurn::Stalled)
                    TraceMessage(kTraceStreamFailure, "DLNA stream : the engine stalled ('%s')",
                        video.relativePath.c_str());
                break;
            }
            const bool open = SendSegment(request, path);
            std::remove(path.c_str());
            if (!open)
                break; // the screen has closed the connection
        }
    }
    engine.Stop();
    m_server.WorkFolders().ClearWorkFolder(folder);
    m_server.WorkFolders().ForgetWorkFolder(folder);
    Unregister(cancelled);
}
