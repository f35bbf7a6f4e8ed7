#include "http/form_service.h"

#include "config/trace.h"
#include "http/civet_support.h"

#include <civetweb.h>

namespace {

constexpr long long kMaxBody = 64 * 1024;

std::string ReadBody(mg_connection* connection, long long declared)
{
    std::string body;
    // Without a length only a chunked body can follow; anything else has none.
    if (declared < 0 && !mg_get_header(connection, "Transfer-Encoding"))
        return body;
    char buffer[4096];
    while (static_cast<long long>(body.size()) < kMaxBody) {
        if (declared >= 0 && static_cast<long long>(body.size()) >= declared)
            break;
        int got = mg_read(connection, buffer, sizeof(buffer));
        if (got <= 0)
            break;
        body.append(buffer, static_cast<size_t>(got));
    }
    if (static_cast<long long>(body.size()) > kMaxBody)
        body.resize(static_cast<size_t>(kMaxBody));
    return body;
}

} // namespace

struct CFormService::State {
    FormHandler handler;
    mg_context* context = nullptr;
    int port = 0;

    static int BeginRequest(mg_connection* connection)
    {
        auto* state = static_cast<State*>(mg_get_user_data(mg_get_context(connection)));
        const mg_request_info* info = mg_get_request_info(connection);
        if (!state || !info)
            return 0;
        try {
            FormRequest request;
            request.method = info->request_method ? info->request_method : "";
            request.path = info->local_uri ? info->local_uri : "";
            request.remoteAddress = info->remote_addr;
            if (const char* forwarded = mg_get_header(connection, "X-Forwarded-For"))
                request.forwardedFor = forwarded;
            if (info->content_length > kMaxBody) {
                mg_send_http_error(connection, 413, "%s", "Request Too Large");
                return 413;
            }
            request.body = ReadBody(connection, info->content_length);
            std::optional<std::string> answer = state->handler(request);
            if (!answer) {
                mg_send_http_error(connection, 404, "%s", "Not Found");
                return 404;
            }
            mg_printf(connection,
                "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: %zu\r\n"
                "Connection: close\r\n\r\n",
                answer->size());
            mg_write(connection, answer->data(), answer->size());
            return 200;
        } catch (...) {
            mg_send_http_error(connection, 500, "%s", "Internal Server Error");
            return 500;
        }
    }
};

CFormService::CFormService()
    : m_state(std::make_unique<State>())
{
}

CFormService::~CFormService()
{
    Stop();
}

bool CFormService::Start(const std::string& address, int port, FormHandler handler)
{
    if (m_state->context || !handler)
        return false;
    m_state->handler = std::move(handler);
    std::string listen = address + ":" + std::to_string(port);
    // clang-format off
    const char* options[] = {
        "listening_ports", listen.c_str(),
        "num_threads", "2",
        "enable_keep_alive", "no",
        "max_request_size", "16384",
        "request_timeout_ms", "10000",
        nullptr,
    };
    // clang-format on
    mg_callbacks callbacks {};
    SetCommonCallbacks(callbacks);
    callbacks.begin_request = &State::BeginRequest;
    EnsureCivetLibrary();
    m_state->context = mg_start(&callbacks, m_state.get(), options);
    if (!m_state->context) {
        TraceMessage(kTraceWebFailure, "Form service - cannot listen on %s", listen.c_str());
        return false;
    }
    mg_server_port ports[2] {};
    if (mg_get_server_ports(m_state->context, 2, ports) >= 1)
        m_state->port = ports[0].port;
    return true;
}

void CFormService::Stop()
{
    if (!m_state->context)
        return;
    StopCivetContext(m_state->context, m_state->port);
    m_state->context = nullptr;
    m_state->port = 0;
}

bool CFormService::IsRunning() const
{
    return m_state->context != nullptr;
}

int CFormService::Port() const
{
    return m_state->port;
}
