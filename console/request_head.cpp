#include "console/request_head.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool IsToken(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isalnum(c)
            || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    });
}

bool HasVisibleBytesOnly(std::string_view text)
{
    return std::all_of(
        text.begin(), text.end(), [](unsigned char c) { return c > 0x20 && c != 0x7f; });
}

// "METHOD target HTTP/1.x"
HeadStatus ParseRequestLine(std::string_view line, RequestHead& head, bool& http10)
{
    size_t first = line.find(' ');
    size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
        return HeadStatus::Malformed;
    std::string_view method = line.substr(0, first);
    std::string_view target = line.substr(first + 1, second - first - 1);
    std::string_view version = line.substr(second + 1);
    if (!IsToken(method) || target.empty() || !HasVisibleBytesOnly(target))
        return HeadStatus::Malformed;
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return version.starts_with("HTTP/") ? HeadStatus::VersionNotSupported
                                            : HeadStatus::Malformed;
    http10 = version == "HTTP/1.0";
    if (target.starts_with("http://") || target.starts_with("https://")) {
        size_t slash = target.find('/', target.find("//") + 2);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    if (target.front() != '/')
        return HeadStatus::Malformed;
    head.method = method;
    head.path = target.substr(0, target.find_first_of("?#"));
    return HeadStatus::Complete;
}

bool ParseLength(std::string_view text, size_t& length)
{
    if (text.empty() || text.size() > 12
        || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    length = std::stoull(std::string(text));
    return true;
}

} // namespace

HeadStatus ParseRequestHead(
    std::string_view bytes, size_t maxHeadBytes, size_t maxBodyBytes, RequestHead& head)
{
    // Blank lines before a request line are tolerated, as the grammar allows.
    size_t start = 0;
    while (start + 1 < bytes.size() && bytes[start] == '\r' && bytes[start + 1] == '\n')
        start += 2;
    size_t end = bytes.find("\r\n\r\n", start);
    if (end == std::string_view::npos)
        return bytes.size() > maxHeadBytes ? HeadStatus::HeadTooLarge : HeadStatus::Incomplete;
    if (end + 4 > maxHeadBytes)
        return HeadStatus::HeadTooLarge;
    head = RequestHead {};
    head.headBytes = end + 4;
    std::string_view text = bytes.substr(start, end - start);
    size_t lineEnd = text.find("\r\n");
    bool http10 = false;
    HeadStatus line = ParseRequestLine(text.substr(0, lineEnd), head, http10);
    if (line != HeadStatus::Complete)
        return line;
    bool haveLength = false;
    std::string connection;
    while (lineEnd != std::string_view::npos) {
        size_t from = lineEnd + 2;
        lineEnd = text.find("\r\n", from);
        std::string_view field
            = text.substr(from, lineEnd == std::string_view::npos ? lineEnd : lineEnd - from);
        size_t colon = field.find(':');
        // No name, a blank before the colon, or a folded line: all refused.
        if (colon == std::string_view::npos || !IsToken(field.substr(0, colon)))
            return HeadStatus::Malformed;
        std::string name = Lower(field.substr(0, colon));
        std::string_view value = Trim(field.substr(colon + 1));
        if (std::any_of(
                value.begin(), value.end(), [](unsigned char c) { return c < 0x20 && c != '\t'; }))
            return HeadStatus::Malformed;
        if (name == "content-length") {
            size_t length = 0;
            if (!ParseLength(value, length) || (haveLength && length != head.contentLength))
                return HeadStatus::Malformed;
            head.contentLength = length;
            haveLength = true;
        } else if (name == "transfer-encoding") {
            return HeadStatus::LengthRequired;
        } else if (name == "connection") {
            connection = Lower(value);
        } else if (name == "x-forwarded-for") {
            head.forwardedFor += (head.forwardedFor.empty() ? "" : ", ") + std::string(value);
        }
    }
    if (head.contentLength > maxBodyBytes)
        return HeadStatus::BodyTooLarge;
    head.keepAlive = http10 ? connection.find("keep-alive") != std::string::npos
                            : connection.find("close") == std::string::npos;
    return HeadStatus::Complete;
}

int StatusOfRefusal(HeadStatus status)
{
    switch (status) {
    case HeadStatus::HeadTooLarge:
        return 431;
    case HeadStatus::BodyTooLarge:
        return 413;
    case HeadStatus::LengthRequired:
        return 411;
    case HeadStatus::VersionNotSupported:
        return 505;
    default:
        return 400;
    }
}
