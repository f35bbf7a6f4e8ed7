#pragma once

// Reading an HTTP/1.x request head from the bytes a client sent so far, for the
// standalone console's own front. Only what the console needs is taken: the method,
// the path, the body's length, whether the connection stays open, and the
// X-Forwarded-For a balancer adds. Anything malformed is refused with the status that
// says why; a chunked body is refused (411), as every console client sends a length.

#include <cstddef>
#include <string>
#include <string_view>

struct RequestHead {
    std::string method;
    std::string path; // without the query; an absolute-form target is cut to its path
    size_t contentLength = 0;
    bool keepAlive = true;
    std::string forwardedFor; // every X-Forwarded-For header joined with ", "
    size_t headBytes = 0; // the head's length in the buffer, blank line included
};

enum class HeadStatus {
    Incomplete, // no blank line yet (and still within the bound)
    Complete,
    Malformed, // 400
    HeadTooLarge, // 431
    BodyTooLarge, // 413
    LengthRequired, // 411
    VersionNotSupported, // 505
};

HeadStatus ParseRequestHead(
    std::string_view bytes, size_t maxHeadBytes, size_t maxBodyBytes, RequestHead& head);

// The status line's code for a refusal.
int StatusOfRefusal(HeadStatus status);
