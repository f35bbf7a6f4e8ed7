#include "library/media_reader_process.h"

#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kStatusRead = 'R';
constexpr char kStatusCannotOpen = 'F';
// Values longer than this are cut: no property of interest comes close.
constexpr uint32_t kMaxValueBytes = 4096;
constexpr uint32_t kMaxValues = 64;
constexpr uint32_t kMaxRequestBytes = 1 << 20;
// A helper leaves after this long without work; the server stops handing work to
// one somewhat earlier, so it never writes to a helper that is just leaving.
constexpr int kHelperIdleSeconds = 60;
constexpr auto kHelperReuseLimit = std::chrono::seconds(kHelperIdleSeconds - 10);

void AppendWord(std::string& out, uint32_t word)
{
    out.append(reinterpret_cast<const char*>(&word), sizeof(word));
}

bool SendAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadExactly(int fd, char* buffer, size_t length)
{
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::read(fd, buffer + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// ---- The helper's side ----

constexpr int kHelperSocket = 3;

// posix_spawn already closes them; this only guards against a careless launcher.
void CloseInheritedDescriptors()
{
    close_range(kHelperSocket + 1, UINT_MAX, 0);
}

bool ReadRequest(int fd, std::string& request)
{
    uint32_t length;
    if (!ReadExactly(fd, reinterpret_cast<char*>(&length), sizeof(length))
        || length > kMaxRequestBytes)
        return false;
    request.assign(length, '\0');
    return ReadExactly(fd, request.data(), length);
}

std::string MakeReply(const MediaServeFunction& serve, const std::string& request)
{
    std::vector<std::string> values;
    std::string reply;
    if (!serve(request, values)) {
        reply += kStatusCannotOpen;
        return reply;
    }
    reply += kStatusRead;
    uint32_t count = static_cast<uint32_t>(std::min<size_t>(values.size(), kMaxValues));
    AppendWord(reply, count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = static_cast<uint32_t>(std::min<size_t>(values[i].size(), kMaxValueBytes));
        AppendWord(reply, length);
        reply.append(values[i], 0, length);
    }
    return reply;
}

// ---- The server's side ----

enum class ReplyState { Complete, Incomplete, Invalid };

ReplyState ParseReply(const std::string& data, bool& opened, std::vector<std::string>& values)
{
    values.clear();
    if (data.empty())
        return ReplyState::Incomplete;
    if (data[0] == kStatusCannotOpen) {
        opened = false;
        return data.size() == 1 ? ReplyState::Complete : ReplyState::Invalid;
    }
    if (data[0] != kStatusRead)
        return ReplyState::Invalid;
    opened = true;
    size_t pos = 1;
    auto readWord = [&](uint32_t& word) {
        if (data.size() - pos < sizeof(word))
            return false;
        std::memcpy(&word, data.data() + pos, sizeof(word));
        pos += sizeof(word);
        return true;
    };
    uint32_t count;
    if (!readWord(count))
        return ReplyState::Incomplete;
    if (count > kMaxValues)
        return ReplyState::Invalid;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length;
        if (!readWord(length))
            return ReplyState::Incomplete;
        if (length > kMaxValueBytes)
            return ReplyState::Invalid;
        if (data.size() - pos < length)
            return ReplyState::Incomplete;
        values.emplace_back(data, pos, length);
        pos += length;
    }
    return pos == data.size() ? ReplyState::Complete : ReplyState::Invalid;
}

int MillisecondsUntil(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
}

// Starts program <server pid> <arguments> with the socket as descriptor 3, every other
// descriptor closed, default signal handling and nothing blocked.
pid_t SpawnHelperProcess(const std::vector<std::string>& command, int socket)
{
    SpawnRequest request;
    request.program = command[0];
    request.args = { std::to_string(::getpid()) };
    request.args.insert(request.args.end(), command.begin() + 1, command.end());
    request.descriptors = { { socket, kHelperSocket } };
    // The helpers stay in the server's process group, as they always have.
    request.ownProcessGroup = false;
    return SpawnProcess(request);
}

} // namespace

int RunMediaReaderHelper(int argc, char** argv, const MediaServeFunction& serve)
{
    if (argc < 2)
        return 2;
    pid_t server = static_cast<pid_t>(std::strtol(argv[1], nullptr, 10));
    if (server <= 0 || ::fcntl(kHelperSocket, F_GETFD) < 0)
        return 2;
    CloseInheritedDescriptors();
    // Libraries turn wide file names into bytes by the C library's locale.
    setlocale(LC_CTYPE, "");
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        setlocale(LC_CTYPE, "C.UTF-8");
    int idleSeconds = 0;
    for (;;) {
        pollfd poller { kHelperSocket, POLLIN, 0 };
        int ready = ::poll(&poller, 1, 1000);
        if (::getppid() != server)
            return 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return 1;
        if (ready == 0) {
            if (++idleSeconds >= kHelperIdleSeconds)
                return 0;
            continue;
        }
        idleSeconds = 0;
        std::string request;
        if (!ReadRequest(kHelperSocket, request))
            return 0;
        if (!SendAll(kHelperSocket, MakeReply(serve, request)))
            return 0;
    }
}

MediaReaderPool::MediaReaderPool(size_t maxHelpers, std::chrono::milliseconds reapStep)
    : m_maxHelpers(maxHelpers == 0 ? 1 : maxHelpers)
    , m_reapStep(reapStep)
{
}

MediaReaderPool::~MediaReaderPool()
{
    std::thread reaper;
    std::vector<Helper> idle;
    {
        std::lock_guard guard(m_lock);
        m_reaperStop = true;
        reaper = std::move(m_reaper);
        idle.swap(m_idle);
    }
    m_reaperWake.notify_all();
    if (reaper.joinable())
        reaper.join();
    for (Helper& helper : idle)
        Discard(helper);
}

namespace {

// True when the helper has ended; it stays unreaped (its owner reaps it), so its
// process id cannot be reused meanwhile.
bool HasEnded(pid_t pid)
{
    siginfo_t info {};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0
        && info.si_pid == pid;
}

} // namespace

std::vector<MediaReaderPool::Helper> MediaReaderPool::TakeIdleToRetire()
{
    std::vector<Helper> retired;
    const Clock::time_point now = Clock::now();
    std::erase_if(m_idle, [&](const Helper& helper) {
        // Helpers about to leave on their own are retired rather than used.
        const bool retire = now - helper.lastUsed > kHelperReuseLimit || HasEnded(helper.pid);
        if (retire)
            retired.push_back(helper);
        return retire;
    });
    return retired;
}

void MediaReaderPool::StartReaper()
{
    if (!m_reaper.joinable() && !m_reaperStop)
        m_reaper = std::thread([this] { ReaperThread(); });
}

void MediaReaderPool::ReaperThread()
{
    std::unique_lock guard(m_lock);
    while (!m_reaperStop) {
        m_reaperWake.wait_for(guard, m_reapStep, [this] { return m_reaperStop; });
        std::vector<Helper> retired = TakeIdleToRetire();
        if (retired.empty())
            continue;
        guard.unlock();
        for (Helper& helper : retired)
            Discard(helper);
        guard.lock();
    }
}

void MediaReaderPool::SetHelperCommand(std::vector<std::string> command)
{
    std::vector<Helper> retired;
    {
        std::lock_guard guard(m_lock);
        m_command = std::move(command);
        ++m_generation;
        retired.swap(m_idle);
    }
    for (Helper& helper : retired)
        Discard(helper);
}

size_t MediaReaderPool::HelperCount() const
{
    std::lock_guard guard(m_lock);
    return m_alive;
}

bool MediaReaderPool::Spawn(Helper& helper)
{
    std::vector<std::string> command;
    {
        std::lock_guard guard(m_lock);
        command = m_command;
        helper.generation = m_generation;
    }
    int ends[2];
    if (command.empty() || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    pid_t pid = -1;
    // The helper's end may not sit on descriptor 3 itself: dup2 onto itself would
    // leave it close-on-exec.
    int helperEnd = ends[1] == kHelperSocket ? ::fcntl(ends[1], F_DUPFD_CLOEXEC, 4) : ends[1];
    if (helperEnd >= 0)
        pid = SpawnHelperProcess(command, helperEnd);
    if (helperEnd >= 0 && helperEnd != ends[1])
        ::close(helperEnd);
    ::close(ends[1]);
    if (pid < 0) {
        ::close(ends[0]);
        return false;
    }
    helper.pid = pid;
    helper.socket = ends[0];
    return true;
}

bool MediaReaderPool::Acquire(Clock::time_point deadline, Helper& helper)
{
    std::vector<Helper> stale;
    bool spawn = false;
    {
        std::unique_lock guard(m_lock);
        for (;;) {
            if (m_shutDown)
                break;
            std::vector<Helper> retired = TakeIdleToRetire();
            stale.insert(stale.end(), retired.begin(), retired.end());
            if (!m_idle.empty()) {
                helper = m_idle.back();
                m_idle.pop_back();
                break;
            }
            if (m_alive - stale.size() < m_maxHelpers) {
                ++m_alive;
                spawn = true;
                break;
            }
            if (m_released.wait_until(guard, deadline) == std::cv_status::timeout)
                break;
        }
    }
    for (Helper& old : stale)
        Discard(old);
    if (!spawn)
        return helper.pid > 0 && MarkBusy(helper);
    if (Spawn(helper))
        return MarkBusy(helper);
    std::lock_guard guard(m_lock);
    --m_alive;
    m_released.notify_one();
    return false;
}

bool MediaReaderPool::MarkBusy(Helper& helper)
{
    {
        std::lock_guard guard(m_lock);
        if (!m_shutDown) {
            m_busy.push_back(helper.pid);
            return true;
        }
    }
    // Made or taken just as the server went: it reads nothing more.
    Discard(helper);
    return false;
}

void MediaReaderPool::Shutdown()
{
    std::vector<Helper> idle;
    {
        std::lock_guard guard(m_lock);
        m_shutDown = true;
        idle.swap(m_idle);
        // The owners reap them: a pid that has not been waited for is never reused.
        for (pid_t pid : m_busy)
            ::kill(pid, SIGKILL);
    }
    m_released.notify_all();
    for (Helper& helper : idle)
        Discard(helper);
}

void MediaReaderPool::Release(Helper& helper)
{
    helper.lastUsed = Clock::now();
    {
        std::lock_guard guard(m_lock);
        std::erase(m_busy, helper.pid);
        if (helper.generation == m_generation && !m_shutDown) {
            m_idle.push_back(helper);
            StartReaper();
            m_released.notify_one();
            return;
        }
    }
    Discard(helper);
}

void MediaReaderPool::Discard(Helper& helper)
{
    {
        std::lock_guard guard(m_lock);
        std::erase(m_busy, helper.pid);
    }
    if (helper.pid > 0) {
        ::kill(helper.pid, SIGKILL);
        while (::waitpid(helper.pid, nullptr, 0) < 0 && errno == EINTR) { }
    }
    if (helper.socket >= 0)
        ::close(helper.socket);
    helper = Helper();
    std::lock_guard guard(m_lock);
    --m_alive;
    m_released.notify_one();
}

MediaReaderOutcome MediaReaderPool::Exchange(
    Helper& helper, Clock::time_point deadline, std::vector<std::string>& values)
{
    std::string data;
    char buffer[4096];
    for (;;) {
        bool opened = false;
        ReplyState state = ParseReply(data, opened, values);
        if (state == ReplyState::Complete)
            return opened ? MediaReaderOutcome::Read : MediaReaderOutcome::CannotOpen;
        if (state == ReplyState::Invalid)
            return MediaReaderOutcome::Crashed;
        int wait = MillisecondsUntil(deadline);
        if (wait == 0)
            return MediaReaderOutcome::TimedOut;
        pollfd poller { helper.socket, POLLIN, 0 };
        int ready = ::poll(&poller, 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            return MediaReaderOutcome::TimedOut;
        ssize_t n = ready < 0 ? -1 : ::read(helper.socket, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return MediaReaderOutcome::Crashed;
        data.append(buffer, static_cast<size_t>(n));
    }
}

MediaReaderOutcome MediaReaderPool::Run(
    const std::string& request, std::chrono::milliseconds timeout, std::vector<std::string>& values)
{
    values.clear();
    if (request.size() > kMaxRequestBytes)
        return MediaReaderOutcome::CannotOpen;
    Clock::time_point deadline = Clock::now() + timeout;
    std::string framed;
    AppendWord(framed, static_cast<uint32_t>(request.size()));
    framed += request;
    // A helper may have left just before it was handed out: one fresh try then.
    for (int attempt = 0; attempt < 2; ++attempt) {
        Helper helper;
        if (!Acquire(deadline, helper))
            return Clock::now() >= deadline ? MediaReaderOutcome::TimedOut
                                            : MediaReaderOutcome::NoProcess;
        if (!SendAll(helper.socket, framed)) {
            Discard(helper);
            continue;
        }
        MediaReaderOutcome outcome = Exchange(helper, deadline, values);
        if (outcome == MediaReaderOutcome::Read || outcome == MediaReaderOutcome::CannotOpen)
            Release(helper);
        else
            Discard(helper);
        if (outcome != MediaReaderOutcome::Read)
            values.clear();
        return outcome;
    }
    return MediaReaderOutcome::NoProcess;
}
