#pragma once

// Sending one file as the whole answer, the way the library serves a static file
// but with our own Range handling (206 with Content-Range, 416 past the end) and
// the media types the clients expect for .m4v, .ts and .m3u8.

#include <string>
#include <string_view>

class HttpRequest;

// Serves the file at path: 200 or 206, Date, Last-Modified, Etag, Content-Type,
// Content-Length, Accept-Ranges, and the bytes unless the method is HEAD, on a
// connection kept alive for an HTTP/1.1 client once the answer is whole; 304 when
// "If-None-Match" names its Etag (or, without that header, "If-Modified-Since" is not
// before its modification). A path with a ".." component, a file that does not exist,
// a folder and a name too long for any file are answered 404 (nothing more); a file
// that cannot be opened otherwise 500.
// Handlers confine path to their own folder before calling this.
void qz_mg_send_file(HttpRequest& request, const std::string& path);

// What a caller may add to the answer: another content type than the extension's,
// and header lines (each ending in CR LF) such as the ones televisions look for.
struct SendFileExtras {
    std::string contentType; // empty: by the extension
    std::string headers;
};
void qz_mg_send_file(HttpRequest& request, const std::string& path, const SendFileExtras& extras);

// True when an "If-None-Match" list names etag ("*" included); a weak tag ("W/...")
// compares by its opaque part, as the weak comparison does.
bool EtagListMatches(std::string_view list, std::string_view etag);

// Content type by the file's extension (case-insensitive).
std::string MimeTypeOf(const std::string& path);
