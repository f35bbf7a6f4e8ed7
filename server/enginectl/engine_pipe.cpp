#include "enginectl/engine_pipe.h"

#include "config/trace.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kGrowthSlack = 5120;
constexpr auto kSendTimeout = std::chrono::milliseconds(5000);
constexpr auto kReadWait = std::chrono::milliseconds(250);
const char* const kPipeNames[2] = { "Send", "Rcv" };

uint32_t ReadWord(const uint8_t* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// A folder we made for ourselves: a real directory, ours, closed to others.
bool IsPrivateFolder(const std::string& path)
{
    struct stat info { };
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid()
        && (info.st_mode & 077) == 0;
}

// A folder made now, by this call: one that exists already belongs to another server
// of this process, or to a process that had this id before.
bool MakeFreshPrivateFolder(const std::string& path)
{
    return mkdir(path.c_str(), 0700) == 0 && IsPrivateFolder(path);
}

} // namespace

EngineFrameReader::EngineFrameReader(size_t capacity)
    : m_buffer(capacity)
{
}

bool EngineFrameReader::Feed(const uint8_t* data, size_t size, const EngineMessageHandler& handler)
{
    if (m_held + size > m_buffer.size()) {
        try {
            m_buffer.resize(size + m_buffer.size() + kGrowthSlack);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    memcpy(m_buffer.data() + m_held, data, size);
    m_held += size;
    size_t consumed = 0;
    bool trusted = true;
    while (m_held - consumed >= 5) {
        const uint8_t* frame = m_buffer.data() + consumed;
        uint32_t length = ReadWord(frame + 1);
        if (length > kMaxMessage) {
            trusted = false;
            break;
        }
        if (m_held - consumed - 5 < length)
            break;
        handler(frame[0], length ? frame + 5 : nullptr, length);
        consumed += 5 + static_cast<size_t>(length);
    }
    memmove(m_buffer.data(), m_buffer.data() + consumed, m_held - consumed);
    m_held -= consumed;
    return trusted;
}

EnginePipeFolder::EnginePipeFolder(std::string runtimeFolder)
    : m_runtimeFolder(std::move(runtimeFolder))
{
}

EnginePipeFolder::~EnginePipeFolder()
{
    std::lock_guard guard(m_lock);
    if (!m_path.empty())
        rmdir(m_path.c_str());
}

std::string EnginePipeFolder::Path()
{
    std::lock_guard guard(m_lock);
    if (!m_path.empty() && IsPrivateFolder(m_path))
        return m_path;
    std::string pid = std::to_string(getpid());
    std::vector<std::string> bases;
    if (!m_runtimeFolder.empty() && m_runtimeFolder[0] == '/')
        bases.push_back(m_runtimeFolder + "/vembacast-" + pid);
    bases.push_back("/tmp/vembacast-" + std::to_string(getuid()) + "-" + pid);
    for (const std::string& base : bases) {
        for (int copy = 1; copy <= 64; ++copy) {
            std::string candidate = copy == 1 ? base : base + "-" + std::to_string(copy);
            if (MakeFreshPrivateFolder(candidate)) {
                m_path = candidate;
                return candidate;
            }
            if (errno != EEXIST)
                break;
        }
        TraceMessage(kTraceStreamFailure, " - engine pipe folder '%s' is not usable", base.c_str());
    }
    return {};
}

bool CEnginePipe::Create(int number, const std::string& folder, EngineMessageHandler handler,
    std::chrono::milliseconds connectBound)
{
    Close();
    if (folder.empty() || !m_stop.Valid())
        return false;
    m_number = number;
    m_handler = std::move(handler);
    m_connectBound = connectBound;
    {
        std::lock_guard lock(m_lock);
        m_state = kStateServer;
        m_count = 0;
    }
    for (int which = 0; which < 2; ++which) {
        m_paths[which] = folder + "/QZ_Vemba_Pipe_" + kPipeNames[which] + std::to_string(number);
        m_listen[which] = ListenUnixSocket(m_paths[which]);
        if (!m_listen[which]) {
            TraceMessage(kTraceStreamFailure, " - engine pipe '%s' cannot listen: %s",
                m_paths[which].c_str(), strerror(errno));
            Close();
            return false;
        }
    }
    try {
        for (int which = 0; which < 2; ++which)
            m_connectThreads[which] = std::thread([this, which] { ConnectThread(which); });
        m_reader = std::thread([this] { ReaderThread(); });
    } catch (const std::system_error&) {
        Close();
        return false;
    }
    return true;
}

void CEnginePipe::ConnectThread(int which)
{
    UniqueFd fd = AcceptUnixSocket(m_listen[which].Get(), m_connectBound, m_stop.Fd());
    std::lock_guard lock(m_lock);
    if (fd) {
        m_connected[which] = std::move(fd);
        ++m_count;
        // Nobody else may connect to this name any more.
        unlink(m_paths[which].c_str());
        m_listen[which].Reset();
    } else {
        m_state |= kStateExit;
    }
    m_changed.notify_all();
}

void CEnginePipe::ReaderThread()
{
    int rcv = -1;
    {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [&] { return m_connected[1] || (m_state & kStateExit) || m_stopped; });
        if (!m_connected[1] || m_stopped)
            return;
        rcv = m_connected[1].Get();
    }
    EngineFrameReader reader;
    std::vector<uint8_t> chunk(kEnginePipeBufferSize);
    while (true) {
        ssize_t got = ReadSome(rcv, chunk.data(), chunk.size(), kReadWait, m_stop.Fd());
        if (got < 0)
            break; // the engine closed its end
        if (got == 0) {
            std::lock_guard lock(m_lock);
            if (m_stopped)
                break;
            continue;
        }
        if (!reader.Feed(chunk.data(), static_cast<size_t>(got), m_handler)) {
            TraceMessage(kTraceStreamFailure,
                " - engine pipe %d: unreadable message, channel dropped", m_number);
            break;
        }
    }
}

uint32_t CEnginePipe::State() const
{
    std::lock_guard lock(m_lock);
    return m_state;
}

int CEnginePipe::ConnectedCount() const
{
    std::lock_guard lock(m_lock);
    return m_count;
}

bool CEnginePipe::WaitConnected(std::chrono::milliseconds timeout, bool& stillWaiting) const
{
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, timeout, [&] { return m_count == 2 || (m_state & kStateExit); });
    stillWaiting = m_count < 2 && !(m_state & kStateExit);
    return m_count == 2;
}

bool CEnginePipe::Send(uint8_t type, const void* payload, uint32_t length)
{
    std::lock_guard sending(m_sendLock); // Close waits for a send in progress
    int fd = -1;
    {
        std::lock_guard lock(m_lock);
        fd = m_connected[0].Get();
    }
    if (fd < 0)
        return false;
    uint8_t header[5] = { type, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
        static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24) };
    return WriteAll(fd, header, sizeof header, kSendTimeout)
        && (length == 0 || WriteAll(fd, payload, length, kSendTimeout));
}

void CEnginePipe::Close()
{
    {
        std::lock_guard lock(m_lock);
        m_stopped = true;
        m_changed.notify_all();
    }
    m_stop.Signal();
    for (std::thread& thread : m_connectThreads) {
        if (thread.joinable())
            thread.join();
    }
    if (m_reader.joinable())
        m_reader.join();
    std::lock_guard sending(m_sendLock);
    std::lock_guard lock(m_lock);
    for (int which = 0; which < 2; ++which) {
        m_connected[which].Reset();
        m_listen[which].Reset();
        if (!m_paths[which].empty())
            unlink(m_paths[which].c_str());
        m_paths[which].clear();
    }
    m_count = 0;
    m_state = 0;
    m_stopped = false;
    m_stop = WakeSignal();
}
