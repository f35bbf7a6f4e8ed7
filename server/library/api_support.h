#pragma once

// What the library's handlers of the browser API ("/api/v1/...", docs/api.md) share:
// reading the query strictly, mapping a path value into a share with the same
// confinement as every other request, and writing a video's entry. Each helper that
// finds the request unusable answers it (400 or 404) itself and returns nothing, so a
// handler reads as the steps of its request.

#include "http/json_writer.h"
#include "http/query_values.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class HttpRequest;
class LibraryContext;

// The longest path value taken (bytes).
inline constexpr size_t kMaxApiPathBytes = 4096;

// The query values, or nothing when the query is malformed (answered 400).
std::optional<QueryValues> ReadApiQuery(HttpRequest& request);

// A text value that must be there: valid UTF-8 of 1 to maxBytes bytes. Answers 400
// naming the value when it is missing or unusable.
std::optional<std::string> RequireText(
    HttpRequest& request, const QueryValues& query, const char* name, size_t maxBytes);

// A whole number in [min, max], def when the value is absent; answers 400 when it is
// there but not such a number.
std::optional<int64_t> ReadWholeNumber(HttpRequest& request, const QueryValues& query,
    const char* name, int64_t def, int64_t min, int64_t max);

enum class ApiPathKind { Folder, Video };

struct ApiPath {
    std::string requestPath; // normalized: "/Movies/Kids/a.mkv"; "/" for the root
    std::string share; // empty for the root
    std::string diskPath; // a folder's ends with '/'
    int64_t size = 0;
    int64_t modifiedNs = 0;
};

// Maps the value of "path" (decoded once) to a folder ("/" the list of shares) or a
// video of a share. 400 when the value is missing, not UTF-8, holds a NUL or a ".."
// component; 404 when the share is unknown, a component is hidden, the place is not
// there, is not of the kind (a file that is no video, for one), or resolves (links
// followed) outside the share.
std::optional<ApiPath> ResolveApiPath(
    LibraryContext& server, HttpRequest& request, const QueryValues& query, ApiPathKind kind);

// The facts of one video an entry shows.
struct VideoFacts {
    std::string requestPath;
    std::string diskPath;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    std::optional<int64_t> addedNs;
};

// Writes the entry of a video (an object). Media properties not known yet are read in
// the background, and the entry leaves "media" out until then: true when such a read
// is pending.
// extra, when given, adds fields of the caller's own to the entry.
bool WriteVideoEntry(LibraryContext& server, JsonWriter& json, const VideoFacts& video,
    const std::function<void(JsonWriter&)>& extra = {});

// The video an index row or a saved position names, when it is still in its share
// (links resolved) and there; nothing otherwise.
std::optional<VideoFacts> FindSharedVideo(LibraryContext& server, const std::string& requestPath);

// The value of "profile": kDefaultProfile when absent; answers 400 when it is not a
// usable profile name.
std::optional<std::string> ReadProfile(HttpRequest& request, const QueryValues& query);

// Milliseconds since the epoch of a time in nanoseconds.
inline int64_t EpochMs(int64_t ns)
{
    return ns / 1000000;
}
