#pragma once

// The HTTP client seam of the console requests: one exchange (connect, send the form,
// read the status and body) with a server. The libcurl transport is the real one;
// tests pass their own to stand in for a console that cannot be reached from here.

#include <chrono>
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

class IHttpTransport {
public:
    virtual ~IHttpTransport() = default;
    // POST (post true) or GET of object with the form body; redirections are not
    // followed and nothing is cached.
    virtual TransportResult Exchange(const HttpTarget& target, const std::string& body, bool post)
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
    TransportResult Exchange(const HttpTarget& target, const std::string& body, bool post) override;

private:
    CurlTimeouts m_timeouts;
};

// The process's libcurl transport.
IHttpTransport& DefaultHttpTransport();
