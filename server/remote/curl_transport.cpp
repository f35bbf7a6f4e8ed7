#include "remote/http_transport.h"
#include "remote/relay_server.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace {

// libcurl's global set-up belongs to the process, not to one server: once for all.
void EnsureCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// How often a transfer looks at its cancel flag while it waits for the network.
constexpr int kCancelLookMs = 50;

// Runs the transfer on a multi handle of its own, waiting in short polls, so a
// cancelled exchange ends within one poll however long the peer keeps silent.
CURLcode PerformCancellable(CURL* curl, const CancelFlag& cancel, bool& cancelled)
{
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), curl) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
        if (running == 0) {
            int left = 0;
            CURLMsg* message = curl_multi_info_read(multi.get(), &left);
            result
                = message && message->msg == CURLMSG_DONE ? message->data.result : CURLE_RECV_ERROR;
            break;
        }
        if (cancel.load()) {
            cancelled = true;
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        curl_multi_poll(multi.get(), nullptr, 0, kCancelLookMs, nullptr);
    }
    curl_multi_remove_handle(multi.get(), curl);
    return result;
}

struct BodySink {
    std::string* body;
    size_t limit;
    bool overflowed = false;
};

size_t AppendBody(char* data, size_t size, size_t count, void* userData)
{
    auto* sink = static_cast<BodySink*>(userData);
    size_t bytes = size * count;
    size_t room = sink->limit - std::min(sink->body->size(), sink->limit);
    if (bytes > room) {
        sink->overflowed = true;
        return 0; // ends the transfer at the limit
    }
    sink->body->append(data, bytes);
    return bytes;
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

TransportFailure ClassifyFailure(CURL* handle, CURLcode code, long status)
{
    if (code == CURLE_OK)
        return TransportFailure::None;
    if (status != 0)
        return TransportFailure::Receive;
    curl_off_t connectTime = 0;
    curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connectTime);
    return connectTime == 0 ? TransportFailure::Connect : TransportFailure::Request;
}

} // namespace

CCurlTransport::CCurlTransport(CurlTimeouts timeouts)
    : m_timeouts(timeouts)
{
}

TransportResult CCurlTransport::Exchange(
    const HttpTarget& target, const std::string& body, bool post, const CancelFlag* cancel)
{
    EnsureCurl();
    TransportResult result;
    std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
    if (!handle) {
        result.failure = TransportFailure::Connect;
        return result;
    }
    CURL* curl = handle.get();
    std::string url = "http://" + target.host + ":" + std::to_string(target.port) + target.object;
    curl_slist* headers
        = curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    std::unique_ptr<curl_slist, HeaderListDeleter> headerList(headers);

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "VembaCAST");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(
        curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_timeouts.connect.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(m_timeouts.total.count()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    BodySink sink { &result.body, m_timeouts.maxBodyBytes };
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    if (post) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    } else {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }

    bool cancelled = false;
    CURLcode code = cancel ? PerformCancellable(curl, *cancel, cancelled) : curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    result.status = static_cast<int>(status);
    result.failure = ClassifyFailure(curl, code, status);
    if (cancelled)
        result.failure = status != 0 ? TransportFailure::Receive : TransportFailure::Connect;
    if (sink.overflowed)
        result.failure = TransportFailure::TooLarge;
    return result;
}

std::shared_ptr<IHttpTransport> MakeConsoleTransport()
{
    // Console answers are small; a console that sends more, or stalls, is cut off.
    return std::make_shared<CCurlTransport>(CurlTimeouts { std::chrono::milliseconds(5000),
        std::chrono::milliseconds(15000), kMaxConsoleAnswerBytes });
}
