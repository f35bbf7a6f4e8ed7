#pragma once

// One HTTP request as the handlers see it. Only server/http/ talks to the HTTP library;
// handlers anywhere in the server read the request and write their answer through
// HttpRequest and the query readers below.
//
// The URI is the library's cleaned local URI: percent-decoded (a plus sign stays a
// plus sign), runs of slashes collapsed and dot segments removed. The query string
// is raw. A handler writes the whole answer itself (status line, headers, body). The
// connection closes after the handler unless the handler sent a whole answer with a
// length and said so (KeepAlive); a handler that writes nothing closes it without an
// answer.

#include "config/trace.h"
#include "http/trusted_proxy.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct mg_connection;

class HttpRequest {
public:
    explicit HttpRequest(mg_connection* connection);
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    const std::string& Method() const { return m_method; }
    const std::string& Uri() const { return m_uri; }
    const std::string& QueryString() const { return m_query; }
    // The client's address: the socket's peer, or what a trusted proxy forwarded.
    const std::string& RemoteAddress() const { return m_client.address; }
    // The socket's peer itself.
    const std::string& PeerAddress() const { return m_peerAddress; }
    // True over TLS, or when a trusted proxy says the client used https.
    bool IsSecure() const { return m_client.secure; }
    // True when the connection itself is TLS.
    bool IsTls() const { return m_tls; }
    // The host the client asked for ("name:port" as sent; a trusted proxy's forwarded
    // host), empty when the request names none.
    const std::string& HostValue() const { return m_client.host; }
    const ClientView& Client() const { return m_client; }
    // Applies the proxy rule (dispatch does, before anything reads the client).
    void SetClient(ClientView client) { m_client = std::move(client); }
    bool IsHead() const { return m_method == "HEAD"; }

    // The value of the first header whose name matches ignoring case.
    std::optional<std::string> Header(std::string_view name) const;

    // Sends bytes as they are; false once the client has gone, or has not taken any
    // of them for the bound of a stalled write (http/write_stall.h). Never cut, never
    // delayed.
    bool Write(std::string_view bytes);
    bool Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The library's own error page ("Error 404: Not Found" and the text).
    void SendError(int status, const std::string& text);

    // True once anything has been written on this request.
    bool Answered() const { return m_answered; }

    // Keep-alive, for answers with a length only: true when the client speaks HTTP/1.1
    // and did not ask to close, so the answer may say "Connection: keep-alive"; once
    // such an answer has gone out whole, KeepAlive lets the connection carry the
    // client's next request. Every other answer closes the connection after it.
    bool MayKeepAlive() const;
    void KeepAlive() { m_keepAlive = MayKeepAlive(); }
    bool KeepsAlive() const { return m_keepAlive; }

    mg_connection* Connection() const { return m_connection; }

private:
    mg_connection* m_connection;
    std::string m_method;
    std::string m_uri;
    std::string m_query;
    std::string m_peerAddress;
    bool m_tls = false;
    ClientView m_client;
    std::string m_httpVersion;
    std::vector<std::pair<std::string, std::string>> m_headers;
    bool m_answered = false;
    bool m_keepAlive = false;
    uint64_t m_bytesTaken = 0; // of the answer, by the client's connection
};

// The named variable of a raw query string, form-decoded; the rules of GetRequestVar.
std::string GetQueryVar(std::string_view query, const char* name);

// The named query variable, form-decoded ("%26" gives "&", "+" a blank); the name
// matches ignoring case. Empty when absent or longer than the 32768-byte decode buffer.
std::string GetRequestVar(const HttpRequest& request, const char* name);

// Copies the named variable into buffer (at most length - 1 bytes and a terminator).
// Returns 0 when it is absent or does not fit (buffer untouched), else 1.
int CopyRequestVar(const HttpRequest& request, const char* name, char* buffer, size_t length);
template <size_t N>
int CopyRequestVar(const HttpRequest& request, const char* name, char (&buffer)[N])
{
    return CopyRequestVar(request, name, buffer, N);
}

// The host part of the host the client asked for (HostValue), for URLs that point the
// client back at this server: the text before the port (a bracketed IPv6 literal is
// kept whole). Dispatch has checked it against the names the server answers to.
std::string GetRequestHost(const HttpRequest& request);

// True when path has a ".." component (between '/' or '\' separators). Such paths are
// refused wherever a request names a file.
bool HasDotDotComponent(std::string_view path);

// Traces a handler's entry line when made and its exit line when destroyed:
// "Noti : OnNotifyPlay: ('...')" and " - Noti complete: OnNotifyPlay: ('...')".
class HandlerTrace {
public:
    HandlerTrace(const char* handlerName, std::string detail, uint32_t level = kTraceRequest);
    ~HandlerTrace();
    HandlerTrace(const HandlerTrace&) = delete;
    HandlerTrace& operator=(const HandlerTrace&) = delete;

private:
    const char* m_name;
    std::string m_detail;
    uint32_t m_level;
};
