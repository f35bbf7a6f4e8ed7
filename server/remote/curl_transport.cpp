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

// Asked by libcurl about once a second, and more often while data flows.
int CheckCancel(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* cancel = static_cast<const CancelFlag*>(userData);
    return cancel && cancel->load() ? 1 : 0;
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

    if (cancel) {
        if (cancel->load()) {
            result.failure = TransportFailure::Connect;
            return result;
        }
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckCancel);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<CancelFlag*>(cancel));
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
    CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    result.status = static_cast<int>(status);
    result.failure = ClassifyFailure(curl, code, status);
    if (sink.overflowed)
        result.failure = TransportFailure::TooLarge;
    return result;
}

std::shared_ptr<IHttpTransport> MakeConsoleTransport()
{
    // Console answers are small; a console that sends more, or stalls, is cut off.
    return std::make_shared<CCurlTransport>(CurlTimeouts {
        std::chrono::milliseconds(5000), std::chrono::milliseconds(15000), kMaxConsoleAnswerBytes });
}
