#pragma once

// The standalone console's HTTP front, built for a public host: one event thread owns
// every connection and reads requests without blocking, so slow, idle or half-sent
// connections cost a socket and nothing else; only complete requests reach the
// workers, which run the handler (and so wait on the database) and hand the answer
// back. Each connection has a deadline for its head, then for its body, then for
// sending the answer; an address holds a bounded number of connections (trusted
// proxies are exempt), and the whole front a bounded number. Connections stay open
// between requests (a balancer reuses them) until the head deadline of the next.
//
// Threads: the event thread owns the listening socket, the connections and the
// per-address counts; workers take jobs from m_jobs and put answers into m_done, both
// guarded by m_lock, and wake the event thread through an eventfd.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct FrontOptions {
    std::string address = "0.0.0.0"; // IPv4 or IPv6 (bracketed or not)
    int port = 0; // 0 picks a free port
    int workers = 8;
    int maxConnections = 10000;
    int maxConnectionsPerAddress = 32;
    std::chrono::milliseconds headerTimeout { 5000 };
    std::chrono::milliseconds bodyTimeout { 10000 };
    std::set<std::string> unlimitedPeers; // no per-address bound (trusted proxies)
};

struct FrontRequest {
    std::string method;
    std::string path;
    std::string body;
    std::string peer; // the connection's address
    std::string forwardedFor; // X-Forwarded-For as sent, empty without one
};

struct FrontAnswer {
    int status = 200;
    std::string contentType = "text/xml";
    std::string body;
};

// Called on a worker; must be safe to call concurrently. An exception becomes a 500.
using FrontHandler = std::function<FrontAnswer(const FrontRequest&)>;

class CConsoleFront {
public:
    CConsoleFront();
    ~CConsoleFront(); // stops it
    CConsoleFront(const CConsoleFront&) = delete;
    CConsoleFront& operator=(const CConsoleFront&) = delete;

    bool Start(const FrontOptions& options, FrontHandler handler, std::string& error);
    void Stop();
    int Port() const { return m_port; }

    static constexpr size_t kMaxHeadBytes = 16 * 1024;
    static constexpr size_t kMaxBodyBytes = 64 * 1024;

private:
    struct Job {
        int fd;
        unsigned long long serial;
        FrontRequest request;
        bool keepAlive;
    };
    struct Done {
        int fd;
        unsigned long long serial;
        std::string bytes;
        bool keepAlive;
    };
    class Loop;

    void WorkerMain();
    void Post(Job job);

    FrontOptions m_options;
    FrontHandler m_handler;
    int m_port = 0;
    int m_wakeFd = -1; // eventfd: answers are waiting, or stop
    std::unique_ptr<Loop> m_loop; // used by the event thread only, once started
    std::thread m_eventThread;
    std::vector<std::thread> m_workers;

    std::mutex m_lock;
    std::condition_variable m_jobReady;
    std::deque<Job> m_jobs; // guarded by m_lock
    std::vector<Done> m_done; // guarded by m_lock
    bool m_stopping = false; // guarded by m_lock
};

// The bytes of a whole answer.
std::string FrontAnswerBytes(const FrontAnswer& answer, bool keepAlive);
