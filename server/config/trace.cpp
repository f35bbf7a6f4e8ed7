#include "config/trace.h"

#include "config/utf8_text.h"
#include "platform/ini_file.h"
#include "platform/places.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// Threads: TraceMessage is called from every thread of the program. The message is
// formatted on the caller's thread without a lock; everything after that (the
// one-time switch read, the one-time file open, the viewer datagram and the file
// write) runs under g_traceLock, so each entry is written whole and in call order.

namespace {

constexpr int kSwitchUnread = -1;
constexpr int kDefaultSwitch = 1; // viewer only
constexpr uint32_t kDefaultMask = 0xFFFFF;
constexpr size_t kMaxDatagramText = 60000; // keeps a datagram well inside the socket buffer

// With nobody listening at the viewer's socket, every message would cost a failed
// send under the lock, in every request's handler: after a send finds no viewer,
// messages for the viewer alone are dropped at once, without the lock, for a
// second; a viewer started meanwhile hears from the next second on.
constexpr std::chrono::seconds kViewerRetry { 1 };

struct TraceState {
    // Read without the lock by the fast path (NobodyHears); written under it.
    std::atomic<int> switchSeen { kSwitchUnread }; // the switch, once read
    std::atomic<int64_t> viewerAbsentUntil { 0 }; // steady-clock nanoseconds

    // --- guarded by g_traceLock
    int traceSwitch = kSwitchUnread;
    uint32_t mask = kDefaultMask;
    std::string folder; // of the switch file and the log files
    std::string viewerPath; // the viewer's socket
    int viewerSocket = -1;
    bool fileTried = false;
    int logFile = -1;
};

std::mutex g_traceLock;

int64_t SteadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Never destroyed: detached threads (session watchers, engine pipe readers) may
// still trace while the process runs its exit handlers.
// Its atomics are read without the lock, every other field under g_traceLock.
TraceState& State()
{
    static TraceState* state = new TraceState;
    return *state;
}

// True when the message can go nowhere: the viewer is the only sink and it is absent.
bool NobodyHears()
{
    const TraceState& state = State();
    return state.switchSeen.load(std::memory_order_relaxed) == 1
        && SteadyNowNs() < state.viewerAbsentUntil.load(std::memory_order_relaxed);
}

std::string TraceFolder()
{
    const char* overridden = std::getenv("VEMBACAST_TRACE_DIR");
    if (overridden && *overridden)
        return overridden;
    return GetProgramFolder();
}

// Decimal or 0x hexadecimal; anything else is nullopt.
std::optional<unsigned long> ParseSwitchNumber(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = text.c_str() + (hex ? 2 : 0);
    if (*digits == '-' || *digits == '+' || *digits == ' ')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(digits, &end, hex ? 16 : 10);
    if (errno != 0 || end == digits || *end != '\0')
        return std::nullopt;
    return value;
}

void ReadSwitches(TraceState& state)
{
    state.folder = TraceFolder();
    std::string switchFile = state.folder + "/Veneta.ini";
    state.traceSwitch = kDefaultSwitch;
    state.mask = kDefaultMask;
    if (auto text = ini::ReadValue(switchFile, "DEBUG", "PXTRACE")) {
        if (auto value = ParseSwitchNumber(*text))
            state.traceSwitch = static_cast<int>(*value & 0x3);
    }
    if (auto text = ini::ReadValue(switchFile, "DEBUG", "PXTRACE_MASK")) {
        if (auto value = ParseSwitchNumber(*text))
            state.mask = static_cast<uint32_t>(*value);
    }
    std::string runtime = GetRuntimeFolder();
    state.viewerPath = runtime.empty() ? std::string() : runtime + "/Displayer";
}

void SendToViewer(TraceState& state, uint32_t level, const std::string& text)
{
    sockaddr_un address {};
    if (state.viewerPath.empty() || state.viewerPath.size() >= sizeof(address.sun_path))
        return;
    if (state.viewerSocket < 0) {
        state.viewerSocket = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (state.viewerSocket < 0)
            return;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, state.viewerPath.c_str(), state.viewerPath.size());
    size_t textSize = text.size() < kMaxDatagramText ? text.size() : kMaxDatagramText;
    std::string datagram(4 + textSize, '\0');
    for (int i = 0; i < 4; ++i)
        datagram[static_cast<size_t>(i)] = static_cast<char>((level >> (8 * i)) & 0xFF);
    std::memcpy(datagram.data() + 4, text.data(), textSize);
    // Nobody listening, or a viewer too slow to keep up: the message is dropped.
    if (sendto(state.viewerSocket, datagram.data(), datagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
            reinterpret_cast<const sockaddr*>(&address), sizeof(address))
            < 0
        && (errno == ENOENT || errno == ECONNREFUSED))
        state.viewerAbsentUntil = SteadyNowNs()
            + std::chrono::duration_cast<std::chrono::nanoseconds>(kViewerRetry).count();
}

void OpenLogFile(TraceState& state, const std::tm& now)
{
    state.fileTried = true;
    char name[64];
    std::snprintf(name, sizeof(name), "/LogFile[%04d-%02d-%02d].log", now.tm_year + 1900,
        now.tm_mon + 1, now.tm_mday);
    std::string path = state.folder + name;
    state.logFile = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

void WriteToFile(TraceState& state, const std::string& text)
{
    std::time_t seconds = std::time(nullptr);
    std::tm now {};
    localtime_r(&seconds, &now);
    if (!state.fileTried)
        OpenLogFile(state, now);
    if (state.logFile < 0)
        return;
    char prefix[32];
    std::snprintf(
        prefix, sizeof(prefix), "\r\n[%02d:%02d:%02d] ] ", now.tm_hour, now.tm_min, now.tm_sec);
    // One write per entry, so the prefix and the text never part.
    std::string entry = prefix + text;
    size_t done = 0;
    while (done < entry.size()) {
        ssize_t wrote = write(state.logFile, entry.data() + done, entry.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return;
        done += static_cast<size_t>(wrote);
    }
}

std::string FormatMessage(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int length = std::vsnprintf(small, sizeof(small), format, copy);
    va_end(copy);
    if (length < 0)
        return std::string();
    if (static_cast<size_t>(length) < sizeof(small))
        return std::string(small, static_cast<size_t>(length));
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

} // namespace

int TraceMessage(uint32_t level, const char* format, ...)
{
    if (!format || NobodyHears())
        return 0;
    try {
        va_list args;
        va_start(args, format);
        std::string text = SanitizeUtf8(FormatMessage(format, args));
        va_end(args);

        std::lock_guard<std::mutex> hold(g_traceLock);
        TraceState& state = State();
        if (state.traceSwitch == kSwitchUnread) {
            ReadSwitches(state);
            state.switchSeen = state.traceSwitch;
        }
        if (state.traceSwitch & 1)
            SendToViewer(state, level, text);
        if ((state.traceSwitch & 2) && (level & state.mask) == level)
            WriteToFile(state, text);
    } catch (...) {
        // Out of memory while formatting: the message is lost, the caller goes on.
    }
    return 0;
}

void ResetTraceStateForTesting()
{
    std::lock_guard<std::mutex> hold(g_traceLock);
    TraceState& state = State();
    if (state.logFile >= 0)
        close(state.logFile);
    if (state.viewerSocket >= 0)
        close(state.viewerSocket);
    state.traceSwitch = kSwitchUnread;
    state.mask = kDefaultMask;
    state.folder.clear();
    state.viewerPath.clear();
    state.viewerSocket = -1;
    state.fileTried = false;
    state.logFile = -1;
    state.switchSeen = kSwitchUnread;
    state.viewerAbsentUntil = 0;
}
