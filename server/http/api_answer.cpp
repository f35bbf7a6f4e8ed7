#include "http/api_answer.h"

#include "http/json_writer.h"
#include "http/request.h"
#include "http/send_file.h"

#include <cinttypes>
#include <cstdio>
#include <string>

namespace {

const char* StatusText(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 202:
        return "Accepted";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 409:
        return "Conflict";
    case 413:
        return "Content Too Large";
    case 422:
        return "Unprocessable Content";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

void WriteHead(HttpRequest& request, int status, std::string_view contentType, size_t length,
    const std::string& tag, const std::string& extraHeaders = {})
{
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) + "\r\n";
    if (!contentType.empty()) {
        head += "Content-Type: ";
        head += contentType;
        head += "\r\n";
    }
    if (status != 304)
        head += "Content-Length: " + std::to_string(length) + "\r\n";
    if (!tag.empty())
        head += "ETag: " + tag + "\r\n";
    head += extraHeaders;
    head += "Cache-Control: no-cache\r\nX-Content-Type-Options: nosniff\r\nConnection: "
            "close\r\n\r\n";
    request.Write(head);
}

} // namespace

uint64_t ContentHash(std::string_view bytes)
{
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string ApiEntityTag(std::string_view body)
{
    char tag[32];
    std::snprintf(tag, sizeof tag, "\"%016" PRIx64 "\"", ContentHash(body));
    return tag;
}

void WriteApiAnswer(HttpRequest& request, std::string_view body, std::string_view contentType)
{
    const std::string tag = ApiEntityTag(body);
    const std::optional<std::string> known = request.Header("If-None-Match");
    if (known && EtagListMatches(*known, tag)) {
        WriteHead(request, 304, {}, 0, tag);
        return;
    }
    WriteHead(request, 200, contentType, body.size(), tag);
    if (!request.IsHead())
        request.Write(body);
}

void WriteApiPending(HttpRequest& request, std::string_view body, int retryAfterSeconds)
{
    WriteHead(request, 202, kJsonContentType, body.size(), {},
        "Retry-After: " + std::to_string(retryAfterSeconds) + "\r\n");
    if (!request.IsHead())
        request.Write(body);
}

void WriteApiError(HttpRequest& request, int status, std::string_view message)
{
    JsonWriter json;
    json.BeginObject().Key("error").BeginObject();
    json.Key("status").Int(status).Key("message").String(message);
    json.End().End();
    WriteHead(request, status, kJsonContentType, json.Text().size(), {});
    if (!request.IsHead())
        request.Write(json.Text());
}
