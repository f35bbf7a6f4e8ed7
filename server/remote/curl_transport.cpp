#include "remote/http_transport.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace {

constexpr size_t kMaxAnswerBytes = 100000000;

void EnsureCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t AppendBody(char* data, size_t size, size_t count, void* userData)
{
    auto* body = static_cast<std::string*>(userData);
    size_t bytes = size * count;
    size_t room = kMaxAnswerBytes - std::min(body->size(), kMaxAnswerBytes);
    body->append(data, std::min(bytes, room));
    return bytes > room ? 0 : bytes; // 0 ends the transfer at the limit
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
    const HttpTarget& target, const std::string& body, bool post)
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
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    if (post) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    } else {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }

    CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    result.status = static_cast<int>(status);
    result.failure = ClassifyFailure(curl, code, status);
    if (code == CURLE_WRITE_ERROR && result.body.size() >= kMaxAnswerBytes)
        result.failure = TransportFailure::None; // stopped at the limit on purpose
    return result;
}

IHttpTransport& DefaultHttpTransport()
{
    static CCurlTransport transport;
    return transport;
}
