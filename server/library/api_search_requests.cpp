// "/api/v1/search" and "/api/v1/recent": videos of every share from the library
// index, newest first; a search finds names that hold every word of the query.

#include "http/api_answer.h"
#include "http/request.h"
#include "library/api_support.h"
#include "library/library_context.h"
#include "library/name_search.h"
#include "library/request_handlers.h"

namespace {

constexpr int64_t kDefaultPage = 50;
constexpr int64_t kMaxPage = 200;
constexpr int64_t kMaxOffset = 100000;

const char* QueryProblem(SearchQueryError error)
{
    switch (error) {
    case SearchQueryError::Empty:
        return "The value 'q' holds no word.";
    case SearchQueryError::NotText:
        return "The value 'q' is not text.";
    case SearchQueryError::TooLong:
        return "The value 'q' is too long.";
    case SearchQueryError::TooManyWords:
        return "The value 'q' holds too many words.";
    case SearchQueryError::None:
        break;
    }
    return "The value 'q' is not usable.";
}

struct Page {
    size_t limit = 0;
    size_t offset = 0;
};

std::optional<Page> ReadPage(HttpRequest& request, const QueryValues& query)
{
    std::optional<int64_t> limit
        = ReadWholeNumber(request, query, "limit", kDefaultPage, 1, kMaxPage);
    if (!limit)
        return std::nullopt;
    std::optional<int64_t> offset = ReadWholeNumber(request, query, "offset", 0, 0, kMaxOffset);
    if (!offset)
        return std::nullopt;
    return Page { size_t(*limit), size_t(*offset) };
}

// The files, those still in their shares, then "more", "ready" and "pending".
void WriteFiles(
    LibraryContext& server, JsonWriter& json, const std::vector<IndexedFile>& files, bool more)
{
    int64_t pending = 0;
    json.Key("files").BeginArray();
    for (const IndexedFile& file : files) {
        std::optional<VideoFacts> video = FindSharedVideo(server, file.RequestPath());
        if (!video)
            continue; // gone since; the index hears of it soon
        video->addedNs = file.addedNs;
        pending += WriteVideoEntry(server, json, *video) ? 1 : 0;
    }
    json.End();
    json.Key("more").Bool(more);
    json.Key("ready").Bool(server.Index().Ready());
    json.Key("pending").Int(pending);
}

} // namespace

void OnNotifyApiSearch(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiSearch", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<std::string> text = RequireText(request, *query, "q", kMaxSearchQueryChars * 4);
    if (!text)
        return;
    SearchQueryError error = SearchQueryError::None;
    std::optional<SearchWords> words = ParseSearchQuery(*text, error);
    if (!words) {
        WriteApiError(request, 400, QueryProblem(error));
        return;
    }
    std::optional<Page> page = ReadPage(request, *query);
    if (!page)
        return;
    bool more = false;
    std::optional<std::vector<IndexedFile>> files
        = server.Index().Store().Search(*words, page->limit, page->offset, more);
    if (!files) {
        WriteApiError(request, 503, "The library index cannot be read now.");
        return;
    }
    JsonWriter json;
    json.BeginObject().Key("query").String(*text);
    WriteFiles(server, json, *files, more);
    json.End();
    WriteApiAnswer(request, json.Text());
}

void OnNotifyApiRecent(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiRecent", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<Page> page = ReadPage(request, *query);
    if (!page)
        return;
    bool more = false;
    std::optional<std::vector<IndexedFile>> files
        = server.Index().Store().Recent(page->limit, page->offset, more);
    if (!files) {
        WriteApiError(request, 503, "The library index cannot be read now.");
        return;
    }
    JsonWriter json;
    json.BeginObject();
    WriteFiles(server, json, *files, more);
    json.End();
    WriteApiAnswer(request, json.Text());
}
