#include "http/request.h"

#include "http/write_stall.h"
#include "platform/ports.h"

#include <chrono>
#include <civetweb.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

std::string TextOrEmpty(const char* text)
{
    return text ? std::string(text) : std::string();
}

constexpr size_t kRequestVarBuffer = 32768;

} // namespace

HttpRequest::HttpRequest(mg_connection* connection)
    : m_connection(connection)
{
    const mg_request_info* info = mg_get_request_info(connection);
    if (!info)
        return;
    m_method = TextOrEmpty(info->request_method);
    m_uri = TextOrEmpty(info->local_uri);
    m_query = TextOrEmpty(info->query_string);
    m_peerAddress = info->remote_addr;
    m_tls = info->is_ssl != 0;
    m_httpVersion = TextOrEmpty(info->http_version);
    for (int i = 0; i < info->num_headers && i < MG_MAX_HEADERS; ++i)
        m_headers.emplace_back(
            TextOrEmpty(info->http_headers[i].name), TextOrEmpty(info->http_headers[i].value));
    // Until the proxy rule is applied the client is the peer itself.
    m_client.address = m_peerAddress;
    m_client.secure = m_tls;
    m_client.host = Header("Host").value_or(std::string());
}

std::optional<std::string> HttpRequest::Header(std::string_view name) const
{
    for (const auto& [key, value] : m_headers) {
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0)
            return value;
    }
    return std::nullopt;
}

bool HttpRequest::Write(std::string_view bytes)
{
    m_answered = true;
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> stalledSince;
    // mg_write sends what it can until one try has waited the library's timeout
    // without progress; a short write is simply tried again, so it never cuts an
    // answer. A failure before that timeout is a connection that closed or broke.
    while (!bytes.empty()) {
        const Clock::time_point tried = Clock::now();
        int sent = mg_write(m_connection, bytes.data(), bytes.size());
        if (sent > 0) {
            m_bytesTaken += static_cast<uint64_t>(sent);
            bytes.remove_prefix(static_cast<size_t>(sent));
            stalledSince.reset();
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (now - tried < kLibraryIoTimeout * 9 / 10)
            return false;
        stalledSince = stalledSince.value_or(tried);
        if (now - *stalledSince >= StalledWriteBound(m_bytesTaken, MaxSocketSendBuffer()))
            return false;
    }
    return true;
}

bool HttpRequest::Printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0) {
        va_end(args);
        TraceMessage(kTraceWebFailure, "vsnprintf error");
        return false;
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    text.resize(static_cast<size_t>(length));
    return Write(text);
}

bool HttpRequest::MayKeepAlive() const
{
    if (m_httpVersion != "1.1")
        return false;
    std::optional<std::string> connection = Header("Connection");
    return !connection || strcasecmp(connection->c_str(), "close") != 0;
}

void HttpRequest::SendError(int status, const std::string& text)
{
    m_answered = true;
    m_keepAlive = false;
    mg_disable_connection_keep_alive(m_connection);
    mg_send_http_error(m_connection, status, "%s", text.c_str());
}

std::string GetRequestVar(const HttpRequest& request, const char* name)
{
    return GetQueryVar(request.QueryString(), name);
}

std::string GetQueryVar(std::string_view query, const char* name)
{
    if (!name)
        return std::string();
    std::string buffer(kRequestVarBuffer, '\0');
    int length = mg_get_var(query.data(), query.size(), name, buffer.data(), buffer.size());
    if (length < 0)
        return std::string();
    // A value ends at a decoded NUL ("%00"), as a C string would: nothing after it can
    // slip past a check made on the text before it.
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

int CopyRequestVar(const HttpRequest& request, const char* name, char* buffer, size_t length)
{
    if (!buffer || length == 0)
        return 0;
    const std::string& query = request.QueryString();
    std::string decoded(length, '\0');
    int got = mg_get_var(query.data(), query.size(), name, decoded.data(), decoded.size());
    if (got < 0)
        return 0;
    decoded.copy(buffer, static_cast<size_t>(got));
    buffer[got] = '\0';
    return 1;
}

std::string GetRequestHost(const HttpRequest& request)
{
    std::string_view value = request.HostValue();
    while (!value.empty() && value.front() == ':')
        value.remove_prefix(1);
    if (!value.empty() && value.front() == '[') {
        size_t close = value.find(']');
        return std::string(close == std::string_view::npos ? value : value.substr(0, close + 1));
    }
    return std::string(value.substr(0, value.find(':')));
}

bool HasDotDotComponent(std::string_view path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("/\\", start);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

HandlerTrace::HandlerTrace(const char* handlerName, std::string detail, uint32_t level)
    : m_name(handlerName)
    , m_detail(std::move(detail))
    , m_level(level)
{
    TraceMessage(m_level, "Noti : %s: ('%s')", m_name, m_detail.c_str());
}

HandlerTrace::~HandlerTrace()
{
    TraceMessage(m_level, " - Noti complete: %s: ('%s')", m_name, m_detail.c_str());
}
