#include "engine/control_channel.h"

#include "engine/engine_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Server messages are small; anything larger is not from our server.
constexpr uint32_t kMaxIncomingPayload = 1 << 20;

int ConnectUnix(const std::string& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    int error = errno;
    close(fd);
    errno = error;
    return -1;
}

int ConnectWithRetry(const std::string& path)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (true) {
        int fd = ConnectUnix(path);
        if (fd >= 0)
            return fd;
        bool retry = errno == ENOENT || errno == ECONNREFUSED || errno == EAGAIN || errno == EINTR;
        if (!retry || std::chrono::steady_clock::now() > deadline) {
            EngineLog(LogLevel::Error, "cannot connect %s: %s", path.c_str(), strerror(errno));
            return -1;
        }
        usleep(20 * 1000);
    }
}

void PutWord(std::vector<uint8_t>& bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

ControlChannel::~ControlChannel()
{
    if (m_sendFd >= 0)
        shutdown(m_sendFd, SHUT_RDWR); // wakes the reader
    if (m_reader.joinable())
        m_reader.join();
    if (m_sendFd >= 0)
        close(m_sendFd);
    if (m_rcvFd >= 0)
        close(m_rcvFd);
}

bool ControlChannel::Connect(const std::string& folder, int number)
{
    std::string base = folder + "/QZ_Vemba_Pipe_";
    m_sendFd = ConnectWithRetry(base + "Send" + std::to_string(number));
    if (m_sendFd < 0)
        return false;
    m_rcvFd = ConnectWithRetry(base + "Rcv" + std::to_string(number));
    return m_rcvFd >= 0;
}

void ControlChannel::UseDetached()
{
    std::lock_guard lock(m_lock);
    m_detached = true;
    m_startParameters = true;
    m_start = true;
}

void ControlChannel::Start(std::function<void()> onQuit)
{
    m_onQuit = std::move(onQuit);
    if (!m_detached)
        m_reader = std::thread([this] { ReadLoop(); });
}

bool ControlChannel::Send(uint8_t type, const void* payload, uint32_t length)
{
    if (m_detached)
        return true;
    uint8_t header[5] = { type, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
        static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24) };
    std::lock_guard lock(m_writeLock);
    auto writeAll = [&](const void* data, size_t size) {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t written = ::send(m_rcvFd, bytes, size, MSG_NOSIGNAL);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            bytes += written;
            size -= static_cast<size_t>(written);
        }
        return true;
    };
    if (writeAll(header, sizeof header) && (length == 0 || writeAll(payload, length)))
        return true;
    MarkGone();
    return false;
}

bool ControlChannel::ReadExact(void* buffer, size_t length)
{
    char* bytes = static_cast<char*>(buffer);
    while (length > 0) {
        ssize_t got = recv(m_sendFd, bytes, length, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

void ControlChannel::ReadLoop()
{
    std::vector<char> payload;
    while (true) {
        uint8_t header[5];
        if (!ReadExact(header, sizeof header))
            break;
        uint32_t length
            = header[1] | header[2] << 8 | header[3] << 16 | static_cast<uint32_t>(header[4]) << 24;
        if (length > kMaxIncomingPayload) {
            EngineLog(LogLevel::Error, "message %u of %u bytes refused", header[0], length);
            break;
        }
        payload.resize(length);
        if (length > 0 && !ReadExact(payload.data(), length))
            break;
        if (header[0] == EngineMessage::Quit) {
            EngineLog(LogLevel::Info, "quit received");
            break;
        }
        std::lock_guard lock(m_lock);
        if (header[0] == EngineMessage::StartParameters)
            m_startParameters = true;
        else if (header[0] == EngineMessage::StartEncoding)
            m_start = true;
        else if (header[0] == EngineMessage::Request)
            m_requests.emplace_back(payload.begin(), payload.end());
        m_changed.notify_all();
    }
    MarkGone();
}

void ControlChannel::MarkGone()
{
    bool first = false;
    {
        std::lock_guard lock(m_lock);
        first = !m_gone;
        m_gone = true;
        m_changed.notify_all();
    }
    if (first && m_onQuit)
        m_onQuit();
}

bool ControlChannel::WaitForStart()
{
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [&] { return m_gone || m_start; });
    if (!m_gone && !m_startParameters)
        EngineLog(LogLevel::Warning, "start without start parameters");
    return !m_gone;
}

bool ControlChannel::NextRequest(std::string& text)
{
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [&] { return m_gone || !m_requests.empty(); });
    if (m_gone)
        return false;
    text = std::move(m_requests.front());
    m_requests.pop_front();
    return true;
}

bool ControlChannel::QuitReceived() const
{
    std::lock_guard lock(m_lock);
    return m_gone;
}

std::vector<uint8_t> MakeStatusPayload(
    uint32_t word1, uint32_t word2, double position, uint32_t totalMs)
{
    std::vector<uint8_t> bytes(24, 0);
    PutWord(bytes, 0, word1);
    PutWord(bytes, 4, word2);
    uint64_t bits = 0;
    static_assert(sizeof bits == sizeof position);
    memcpy(&bits, &position, sizeof bits);
    PutWord(bytes, 8, static_cast<uint32_t>(bits));
    PutWord(bytes, 12, static_cast<uint32_t>(bits >> 32));
    PutWord(bytes, 16, totalMs);
    return bytes;
}
