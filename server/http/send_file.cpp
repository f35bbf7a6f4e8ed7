#include "http/send_file.h"

#include "config/trace.h"
#include "http/range.h"
#include "http/request.h"
#include "platform/file_io.h"

#include <cerrno>
#include <cinttypes>
#include <civetweb.h>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kChunkSize = 64 * 1024;

struct ExtraMimeType {
    const char* extension;
    const char* type;
};
constexpr ExtraMimeType kExtraMimeTypes[] = {
    { "m4v", "video/mp4v-es" },
    { "ts", "video/mp2t" },
    { "m3u8", "application/vnd.apple.mpegurl" },
};

std::string HttpDate(time_t when)
{
    struct tm parts { };
    gmtime_r(&when, &parts);
    char text[64];
    strftime(text, sizeof(text), "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

// "If-Range" keeps the range only while the validator still names this file version.
bool RangeStillValid(
    const HttpRequest& request, const std::string& etag, const std::string& modified)
{
    std::optional<std::string> ifRange = request.Header("If-Range");
    return !ifRange || *ifRange == etag || *ifRange == modified;
}

// True when all length bytes went out.
bool SendBody(HttpRequest& request, int fd, uint64_t offset, uint64_t length)
{
    std::vector<char> buffer(kChunkSize);
    while (length > 0) {
        size_t want = length < kChunkSize ? static_cast<size_t>(length) : kChunkSize;
        ssize_t got = pread(fd, buffer.data(), want, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false; // the file shrank or failed: a short body, and a close
        if (!request.Write(std::string_view(buffer.data(), static_cast<size_t>(got))))
            return false;
        offset += static_cast<uint64_t>(got);
        length -= static_cast<uint64_t>(got);
    }
    return true;
}

// A small answer in one write, its head and its body together: one packet where
// two would each wake the client (thumbnails, playlists, the page's modules). True
// when all of it went out.
bool SendWithHead(
    HttpRequest& request, const std::string& head, int fd, uint64_t offset, size_t length)
{
    std::string answer = head;
    answer.resize(head.size() + length);
    size_t done = 0;
    while (done < length) {
        ssize_t got = pread(fd, answer.data() + head.size() + done, length - done,
            static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break; // the file shrank or failed: a short body, and a close
        done += static_cast<size_t>(got);
    }
    answer.resize(head.size() + done);
    return request.Write(answer) && done == length;
}

// The Connection header of an answer with a length.
const char* ConnectionHeader(const HttpRequest& request)
{
    return request.MayKeepAlive() ? "keep-alive" : "close";
}

// An IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT"); nullopt for anything else.
std::optional<time_t> ParseHttpDate(const std::string& text)
{
    struct tm parts { };
    const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts);
    if (!end || *end != '\0')
        return std::nullopt;
    return timegm(&parts);
}

// A conditional GET or HEAD whose copy is still current: "If-None-Match" decides
// when present, otherwise "If-Modified-Since" (a date not after the file's).
bool ClientCopyIsCurrent(const HttpRequest& request, const std::string& etag, time_t modified)
{
    if (std::optional<std::string> tags = request.Header("If-None-Match"))
        return EtagListMatches(*tags, etag);
    std::optional<std::string> since = request.Header("If-Modified-Since");
    if (!since)
        return false;
    std::optional<time_t> date = ParseHttpDate(*since);
    return date && modified <= *date;
}

void SendNotModified(HttpRequest& request, const std::string& date, const std::string& modified,
    const std::string& etag)
{
    if (request.Printf("HTTP/1.1 304 Not Modified\r\n"
                       "Date: %s\r\n"
                       "Last-Modified: %s\r\n"
                       "Etag: %s\r\n"
                       "Connection: %s\r\n\r\n",
            date.c_str(), modified.c_str(), etag.c_str(), ConnectionHeader(request)))
        request.KeepAlive();
}

void SendUnsatisfiable(HttpRequest& request, uint64_t size, const std::string& date)
{
    if (request.Printf("HTTP/1.1 416 Range Not Satisfiable\r\n"
                       "Date: %s\r\n"
                       "Content-Range: bytes */%" PRIu64 "\r\n"
                       "Content-Length: 0\r\n"
                       "Connection: %s\r\n"
                       "Accept-Ranges: bytes\r\n\r\n",
            date.c_str(), size, ConnectionHeader(request)))
        request.KeepAlive();
}

} // namespace

std::string MimeTypeOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const char* extension = path.c_str() + dot + 1;
        for (const ExtraMimeType& extra : kExtraMimeTypes) {
            if (strcasecmp(extension, extra.extension) == 0)
                return extra.type;
        }
    }
    return mg_get_builtin_mime_type(path.c_str());
}

void qz_mg_send_file(HttpRequest& request, const std::string& path)
{
    qz_mg_send_file(request, path, SendFileExtras {});
}

void qz_mg_send_file(HttpRequest& request, const std::string& path, const SendFileExtras& extras)
{
    if (path.empty() || HasDotDotComponent(path)) {
        request.SendError(404, "Not Found");
        return;
    }
    UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info { };
    int openError = file.Get() < 0 ? errno : 0;
    if (openError == 0 && fstat(file.Get(), &info) != 0)
        openError = errno;
    if (openError == 0 && !S_ISREG(info.st_mode))
        openError = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    if (openError == ENOENT || openError == ENOTDIR || openError == EISDIR
        || openError == ENAMETOOLONG || openError == ELOOP) {
        // Missing, a folder, or a name no file can have: nothing failed here, there is
        // simply no such file. The answer never tells which, so it cannot show which
        // paths exist behind a link.
        request.SendError(404, "Not Found");
        return;
    }
    if (openError != 0) {
        // The server's own paths and error texts go to the trace, not to the client.
        TraceMessage(kTraceStreamFailure, "qz_mg_send_file : cannot open ('%s'): %s", path.c_str(),
            std::strerror(openError));
        request.SendError(500, "Internal Server Error");
        return;
    }

    const uint64_t size = static_cast<uint64_t>(info.st_size);
    char etag[64];
    std::snprintf(etag, sizeof(etag), "\"%lx.%lx\"", static_cast<unsigned long>(info.st_mtime),
        static_cast<unsigned long>(size));
    const std::string modified = HttpDate(info.st_mtime);
    const std::string date = HttpDate(time(nullptr));

    if (ClientCopyIsCurrent(request, etag, info.st_mtime)) {
        SendNotModified(request, date, modified, etag);
        return;
    }

    RangeRequest range;
    std::optional<std::string> rangeHeader = request.Header("Range");
    if (rangeHeader && RangeStillValid(request, etag, modified))
        range = ParseRange(*rangeHeader, size);
    if (range.kind == RangeKind::Unsatisfiable) {
        SendUnsatisfiable(request, size, date);
        return;
    }

    uint64_t first = 0;
    uint64_t length = size;
    std::string status = "200 OK";
    std::string contentRange;
    if (range.kind == RangeKind::Partial) {
        first = range.first;
        length = range.last - range.first + 1;
        status = "206 Partial Content";
        contentRange = "Content-Range: bytes " + std::to_string(range.first) + "-"
            + std::to_string(range.last) + "/" + std::to_string(size) + "\r\n";
    }
    const std::string head = "HTTP/1.1 " + status + "\r\nDate: " + date
        + "\r\nLast-Modified: " + modified + "\r\nEtag: " + etag
        + "\r\nContent-Type: " + (extras.contentType.empty() ? MimeTypeOf(path) : extras.contentType)
        + "\r\nContent-Length: " + std::to_string(length) + "\r\nConnection: "
        + ConnectionHeader(request) + "\r\n" + contentRange + extras.headers
        + "Accept-Ranges: bytes\r\n\r\n";
    bool sent = false;
    if (request.IsHead())
        sent = request.Write(head);
    else if (length <= kChunkSize)
        sent = SendWithHead(request, head, file.Get(), first, static_cast<size_t>(length));
    else
        sent = request.Write(head) && SendBody(request, file.Get(), first, length);
    // Only a whole answer leaves the connection for the next request.
    if (sent)
        request.KeepAlive();
}

bool EtagListMatches(std::string_view list, std::string_view etag)
{
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string_view::npos)
            end = list.size();
        std::string_view tag = list.substr(start, end - start);
        while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t'))
            tag.remove_prefix(1);
        while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t'))
            tag.remove_suffix(1);
        if (tag.starts_with("W/"))
            tag.remove_prefix(2);
        if (tag == "*" || tag == etag)
            return true;
        start = end + 1;
    }
    return false;
}
