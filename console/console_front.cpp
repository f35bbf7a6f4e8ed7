#include "console/console_front.h"

#include "console/request_head.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadChunk = 16 * 1024;
constexpr auto kSweepEvery = std::chrono::milliseconds(100);
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

const char* ReasonOf(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Internal Server Error";
    }
}

// The peer's address as text; an IPv4 peer of an IPv6 socket as plain IPv4.
std::string PeerText(const sockaddr_storage& peer)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (peer.ss_family == AF_INET) {
        inet_ntop(
            AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof(text));
    } else if (peer.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(peer);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr))
            inet_ntop(AF_INET, v6.sin6_addr.s6_addr + 12, text, sizeof(text));
        else
            inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof(text));
    }
    return text;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

int OpenListener(const std::string& address, int port, std::string& error)
{
    std::string host = address;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    sockaddr_storage storage {};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        length = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        length = sizeof(sockaddr_in6);
    } else {
        error = "not an address: " + address;
        return -1;
    }
    int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0
        || bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0
        || listen(fd, SOMAXCONN) != 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": "
            + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::string FrontAnswerBytes(const FrontAnswer& answer, bool keepAlive)
{
    std::string bytes = "HTTP/1.1 " + std::to_string(answer.status) + " " + ReasonOf(answer.status)
        + "\r\nContent-Type: " + answer.contentType + "\r\nContent-Length: "
        + std::to_string(answer.body.size()) + (answer.status == 503 ? "\r\nRetry-After: 5" : "")
        + (keepAlive ? "\r\nConnection: keep-alive\r\n\r\n" : "\r\nConnection: close\r\n\r\n");
    return bytes + answer.body;
}

// The event thread's state: the sockets and what each connection is doing.
class CConsoleFront::Loop {
public:
    Loop(CConsoleFront& front, int listenFd, int epollFd)
        : m_front(front)
        , m_listen(listenFd)
        , m_epoll(epollFd)
    {
    }
    ~Loop()
    {
        for (auto& [fd, connection] : m_connections)
            close(fd);
    }

    void Run();

private:
    enum class Phase { Head, Body, Working, Writing };
    struct Connection {
        int fd = -1;
        std::string peer;
        unsigned long long serial = 0;
        Phase phase = Phase::Head;
        Clock::time_point deadline;
        std::string in;
        RequestHead head;
        std::string out;
        size_t sent = 0;
        bool keepAlive = true;
        bool peerDone = false; // the peer sent its last byte
        bool watched = true; // registered with epoll
    };

    void Watch(Connection& connection, uint32_t events);
    void AcceptAll();
    void OnEvent(Connection& connection, uint32_t events);
    void Read(Connection& connection);
    void Advance(Connection& connection);
    void Refuse(Connection& connection, int status);
    void StartWriting(Connection& connection, std::string bytes, bool keepAlive);
    void Write(Connection& connection);
    void TakeAnswers();
    void Sweep();
    void Close(int fd);
    bool OverLimit(const std::string& peer) const;

    CConsoleFront& m_front;
    FileDescriptor m_listen;
    FileDescriptor m_epoll;
    std::unordered_map<int, Connection> m_connections;
    std::unordered_map<std::string, int> m_perAddress;
    unsigned long long m_nextSerial = 1;
    Clock::time_point m_acceptPausedUntil {};
    bool m_listening = true;
};

void CConsoleFront::Loop::Watch(Connection& connection, uint32_t events)
{
    epoll_event event {};
    event.events = events;
    event.data.fd = connection.fd;
    if (events == 0) {
        // Not even hang-ups are wanted while the answer is made: they would repeat.
        epoll_ctl(m_epoll.get(), EPOLL_CTL_DEL, connection.fd, nullptr);
        connection.watched = false;
        return;
    }
    epoll_ctl(
        m_epoll.get(), connection.watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, connection.fd, &event);
    connection.watched = true;
}

bool CConsoleFront::Loop::OverLimit(const std::string& peer) const
{
    const FrontOptions& options = m_front.m_options;
    if (static_cast<int>(m_connections.size()) >= options.maxConnections)
        return true;
    if (options.unlimitedPeers.contains(peer))
        return false;
    auto found = m_perAddress.find(peer);
    return found != m_perAddress.end() && found->second >= options.maxConnectionsPerAddress;
}

void CConsoleFront::Loop::AcceptAll()
{
    for (;;) {
        sockaddr_storage address {};
        socklen_t length = sizeof(address);
        int fd = accept4(m_listen.get(), reinterpret_cast<sockaddr*>(&address), &length,
            SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: stop accepting for a moment rather than spin.
                epoll_ctl(m_epoll.get(), EPOLL_CTL_DEL, m_listen.get(), nullptr);
                m_listening = false;
                m_acceptPausedUntil = Clock::now() + kAcceptPause;
            }
            return;
        }
        std::string peer = PeerText(address);
        if (OverLimit(peer)) {
            static const std::string busy = FrontAnswerBytes(
                FrontAnswer { 503, "text/plain", "too many connections\n" }, false);
            ssize_t ignored = send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            (void)ignored;
            close(fd);
            continue;
        }
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        Connection& connection = m_connections[fd];
        connection = Connection {};
        connection.fd = fd;
        connection.peer = peer;
        connection.serial = m_nextSerial++;
        connection.deadline = Clock::now() + m_front.m_options.headerTimeout;
        connection.watched = false;
        ++m_perAddress[peer];
        Watch(connection, EPOLLIN | EPOLLRDHUP);
    }
}

void CConsoleFront::Loop::Close(int fd)
{
    auto found = m_connections.find(fd);
    if (found == m_connections.end())
        return;
    auto count = m_perAddress.find(found->second.peer);
    if (count != m_perAddress.end() && --count->second <= 0)
        m_perAddress.erase(count);
    close(fd); // leaves the epoll set with it
    m_connections.erase(found);
    if (!m_listening && Clock::now() >= m_acceptPausedUntil) {
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.fd = m_listen.get();
        m_listening = epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, m_listen.get(), &event) == 0;
    }
}

void CConsoleFront::Loop::Read(Connection& connection)
{
    char buffer[kReadChunk];
    // Up to a bounded amount per event, so one fast sender cannot hold the loop.
    for (int round = 0; round < 8; ++round) {
        ssize_t got = recv(connection.fd, buffer, sizeof(buffer), 0);
        if (got > 0) {
            connection.in.append(buffer, static_cast<size_t>(got));
            if (connection.in.size() > kMaxHeadBytes + kMaxBodyBytes + kReadChunk)
                break;
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            connection.peerDone = true;
        break;
    }
}

void CConsoleFront::Loop::Refuse(Connection& connection, int status)
{
    connection.in.clear();
    StartWriting(
        connection, FrontAnswerBytes(FrontAnswer { status, "text/plain", "" }, false), false);
}

void CConsoleFront::Loop::Advance(Connection& connection)
{
    const FrontOptions& options = m_front.m_options;
    if (connection.phase == Phase::Head) {
        HeadStatus status
            = ParseRequestHead(connection.in, kMaxHeadBytes, kMaxBodyBytes, connection.head);
        if (status == HeadStatus::Incomplete)
            return;
        if (status != HeadStatus::Complete)
            return Refuse(connection, StatusOfRefusal(status));
        connection.phase = Phase::Body;
        connection.deadline = Clock::now() + options.bodyTimeout;
    }
    if (connection.phase != Phase::Body)
        return;
    const RequestHead& head = connection.head;
    if (connection.in.size() < head.headBytes + head.contentLength)
        return;
    FrontRequest request { head.method, head.path,
        connection.in.substr(head.headBytes, head.contentLength), connection.peer,
        head.forwardedFor };
    connection.in.erase(0, head.headBytes + head.contentLength);
    connection.phase = Phase::Working;
    bool keepAlive = head.keepAlive && !connection.peerDone;
    Watch(connection, 0);
    m_front.Post(Job { connection.fd, connection.serial, std::move(request), keepAlive });
}

void CConsoleFront::Loop::StartWriting(Connection& connection, std::string bytes, bool keepAlive)
{
    connection.phase = Phase::Writing;
    connection.out = std::move(bytes);
    connection.sent = 0;
    connection.keepAlive = keepAlive;
    connection.deadline = Clock::now() + m_front.m_options.bodyTimeout;
    Write(connection);
}

void CConsoleFront::Loop::Write(Connection& connection)
{
    while (connection.sent < connection.out.size()) {
        ssize_t sent = send(connection.fd, connection.out.data() + connection.sent,
            connection.out.size() - connection.sent, MSG_NOSIGNAL);
        if (sent > 0) {
            connection.sent += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            Watch(connection, EPOLLOUT);
            return;
        }
        return Close(connection.fd);
    }
    if (!connection.keepAlive)
        return Close(connection.fd);
    // Ready for the next request on the same connection; it may already be here.
    connection.phase = Phase::Head;
    connection.out.clear();
    connection.deadline = Clock::now() + m_front.m_options.headerTimeout;
    Watch(connection, EPOLLIN | EPOLLRDHUP);
    Advance(connection);
}

void CConsoleFront::Loop::OnEvent(Connection& connection, uint32_t events)
{
    if (connection.phase == Phase::Writing) {
        if (events & (EPOLLERR | EPOLLHUP))
            return Close(connection.fd);
        return Write(connection);
    }
    if (connection.phase != Phase::Head && connection.phase != Phase::Body)
        return;
    int fd = connection.fd;
    Read(connection);
    Advance(connection); // may close it
    auto found = m_connections.find(fd);
    if (found != m_connections.end() && found->second.peerDone
        && (found->second.phase == Phase::Head || found->second.phase == Phase::Body))
        Close(fd); // gone before a whole request arrived
}

void CConsoleFront::Loop::TakeAnswers()
{
    uint64_t count = 0;
    ssize_t ignored = read(m_front.m_wakeFd, &count, sizeof(count));
    (void)ignored;
    std::vector<Done> done;
    {
        std::lock_guard lock(m_front.m_lock);
        done.swap(m_front.m_done);
    }
    for (Done& answer : done) {
        auto found = m_connections.find(answer.fd);
        if (found == m_connections.end() || found->second.serial != answer.serial)
            continue;
        StartWriting(found->second, std::move(answer.bytes), answer.keepAlive);
    }
}

void CConsoleFront::Loop::Sweep()
{
    Clock::time_point now = Clock::now();
    std::vector<int> expired;
    for (auto& [fd, connection] : m_connections) {
        if (connection.phase != Phase::Working && now >= connection.deadline)
            expired.push_back(fd);
    }
    for (int fd : expired)
        Close(fd);
    if (!m_listening && now >= m_acceptPausedUntil) {
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.fd = m_listen.get();
        m_listening = epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, m_listen.get(), &event) == 0;
    }
}

void CConsoleFront::Loop::Run()
{
    epoll_event events[256];
    Clock::time_point nextSweep = Clock::now() + kSweepEvery;
    for (;;) {
        int ready = epoll_wait(m_epoll.get(), events, 256,
            static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(kSweepEvery).count()));
        for (int i = 0; i < ready; ++i) {
            int fd = events[i].data.fd;
            if (fd == m_listen.get()) {
                AcceptAll();
            } else if (fd == m_front.m_wakeFd) {
                {
                    std::lock_guard lock(m_front.m_lock);
                    if (m_front.m_stopping)
                        return;
                }
                TakeAnswers();
            } else if (auto found = m_connections.find(fd); found != m_connections.end()) {
                OnEvent(found->second, events[i].events);
            }
        }
        if (Clock::now() >= nextSweep) {
            Sweep();
            nextSweep = Clock::now() + kSweepEvery;
        }
    }
}

CConsoleFront::CConsoleFront() = default;

CConsoleFront::~CConsoleFront()
{
    Stop();
}

bool CConsoleFront::Start(const FrontOptions& options, FrontHandler handler, std::string& error)
{
    if (m_loop || !handler)
        return error = "already started", false;
    m_options = options;
    m_handler = std::move(handler);
    int listenFd = OpenListener(options.address, options.port, error);
    if (listenFd < 0)
        return false;
    int epollFd = epoll_create1(EPOLL_CLOEXEC);
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epollFd < 0 || m_wakeFd < 0) {
        error = std::string("cannot poll: ") + std::strerror(errno);
        close(listenFd);
        if (epollFd >= 0)
            close(epollFd);
        if (m_wakeFd >= 0)
            close(m_wakeFd);
        m_wakeFd = -1;
        return false;
    }
    sockaddr_storage bound {};
    socklen_t length = sizeof(bound);
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &length);
    m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                               : reinterpret_cast<sockaddr_in&>(bound).sin_port);
    for (int fd : { listenFd, m_wakeFd }) {
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event);
    }
    m_stopping = false;
    m_loop = std::make_unique<Loop>(*this, listenFd, epollFd);
    for (int i = 0; i < std::max(1, options.workers); ++i)
        m_workers.emplace_back([this] { WorkerMain(); });
    m_eventThread = std::thread([this] { m_loop->Run(); });
    return true;
}

void CConsoleFront::Stop()
{
    if (!m_loop)
        return;
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_jobReady.notify_all();
    uint64_t one = 1;
    ssize_t ignored = write(m_wakeFd, &one, sizeof(one));
    (void)ignored;
    m_eventThread.join();
    for (std::thread& worker : m_workers)
        worker.join();
    m_workers.clear();
    m_loop.reset();
    m_jobs.clear();
    m_done.clear();
    close(m_wakeFd);
    m_wakeFd = -1;
    m_port = 0;
}

void CConsoleFront::Post(Job job)
{
    {
        std::lock_guard lock(m_lock);
        m_jobs.push_back(std::move(job));
    }
    m_jobReady.notify_one();
}

void CConsoleFront::WorkerMain()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_lock);
            m_jobReady.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        FrontAnswer answer;
        try {
            answer = m_handler(job.request);
        } catch (...) {
            answer = FrontAnswer { 500, "text/plain", "" };
        }
        {
            std::lock_guard lock(m_lock);
            m_done.push_back(Done {
                job.fd, job.serial, FrontAnswerBytes(answer, job.keepAlive), job.keepAlive });
        }
        uint64_t one = 1;
        ssize_t ignored = write(m_wakeFd, &one, sizeof(one));
        (void)ignored;
    }
}
