#pragma once

// The HTTP client seam of the console requests: one exchange (connect, send the form,
// read the status and body) with a server. The libcurl transport is the real one;
// tests pass their own to stand in for a console that cannot be reached from here.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

struct HttpTarget {
    std::string host; // a name, a dotted address, or a bracketed IPv6 literal
    int port = 80;
    std::string object; // the path and query, starting with '/'
};

enum class TransportFailure {
    None,
    Connect, // no connection to host:port
    Request, // the request could not be sent
    Receive, // the answer broke off after its status line
    TooLarge, // the body passed the transport's limit and was not read to its end
};

struct TransportResult {
    TransportFailure failure = TransportFailure::None;
    int status = 0; // 0 when no status line arrived
    std::string body; // what was read, possibly cut short on Receive
};

// Set by whoever needs an exchange under way to end now (the server's stop): the
// exchange then ends as soon as the transport looks, at the latest within a second.
using CancelFlag = std::atomic<bool>;

class IHttpTransport {
public:
    virtual ~IHttpTransport() = default;
    // POST (post true) or GET of object with the form body; redirections are not
    // followed and nothing is cached. A cancelled exchange fails (Connect before
    // the status line, Receive after it).
    virtual TransportResult Exchange(const HttpTarget& target, const std::string& body, bool post,
        const CancelFlag* cancel = nullptr)
        = 0;
};

struct CurlTimeouts {
    std::chrono::milliseconds connect { 10000 };
    std::chrono::milliseconds total { 30000 };
    size_t maxBodyBytes = 100000000; // a longer body ends the exchange as TooLarge
};

// libcurl, plain http only, agent "VembaCAST". An answer that sends nothing for the
// total time, or more than the limit, ends the exchange.
class CCurlTransport : public IHttpTransport {
public:
    explicit CCurlTransport(CurlTimeouts timeouts = {});
    TransportResult Exchange(const HttpTarget& target, const std::string& body, bool post,
        const CancelFlag* cancel = nullptr) override;

private:
    CurlTimeouts m_timeouts;
};

// The console's transport: libcurl, 5 s to connect and 15 s in all, and a console
// answer's size at the most.
std::shared_ptr<IHttpTransport> MakeConsoleTransport();
