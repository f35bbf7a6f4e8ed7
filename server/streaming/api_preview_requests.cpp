// "/api/v1/previews" and "/api/v1/preview-sheet": a video's seek previews as a WebVTT
// thumbnails track, and the sprite sheets its cues name (streaming/seek_previews.h).
// The first request for a video queues the pass that makes them and answers 202 with
// a "Retry-After", since a pass takes a while; a client asks again after that.

#include "http/api_answer.h"
#include "http/json_writer.h"
#include "http/query_values.h"
#include "http/request.h"
#include "library/api_support.h"
#include "platform/file_io.h"
#include "streaming/request_handlers.h"
#include "streaming/streaming_context.h"

namespace {

constexpr const char* kWebVttType = "text/vtt; charset=utf-8";
constexpr int kRetryAfterSeconds = 10;
// A sheet of 10 x 10 pictures of up to 160 x 640 pixels is far below this.
constexpr size_t kMaxSheetBytes = 16 << 20;

MediaFileVersion VersionOf(const ApiPath& video)
{
    return { video.diskPath, video.size, video.modifiedNs };
}

void WritePending(HttpRequest& request)
{
    JsonWriter json;
    json.BeginObject().Key("pending").Bool(true).Key("retryAfter").Int(kRetryAfterSeconds).End();
    WriteApiPending(request, json.Text(), kRetryAfterSeconds);
}

} // namespace

void OnNotifyApiPreviews(StreamingContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiPreviews", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<ApiPath> video = ResolveApiPath(server, request, *query, ApiPathKind::Video);
    if (!video)
        return;
    const SeekPreviews::Lookup found = server.Previews().Find(VersionOf(*video));
    switch (found.state) {
    case SeekPreviews::State::Pending:
        WritePending(request);
        return;
    case SeekPreviews::State::Failed:
        WriteApiError(request, 404, "No previews can be made of this video.");
        return;
    case SeekPreviews::State::Off:
        WriteApiError(request, 404, "Seek previews are turned off.");
        return;
    case SeekPreviews::State::Ready:
        break;
    }
    // Relative to this request's own URL, so the track works behind a proxy's prefix.
    const std::string sheetBase = "preview-sheet?path=" + PercentEncode(video->requestPath, "/")
        + "&v=" + SeekPreviews::KeyOf(VersionOf(*video)) + "&sheet=";
    WriteApiAnswer(request,
        MakePreviewTrack(found.index, [&](int sheet) { return sheetBase + std::to_string(sheet); }),
        kWebVttType);
}

void OnNotifyApiPreviewSheet(StreamingContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiPreviewSheet", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<ApiPath> video = ResolveApiPath(server, request, *query, ApiPathKind::Video);
    if (!video)
        return;
    std::optional<int64_t> sheet
        = ReadWholeNumber(request, *query, "sheet", -1, 0, kMaxPreviewPictures);
    if (!sheet)
        return;
    if (*sheet < 0) {
        WriteApiError(request, 400, "The value 'sheet' is missing.");
        return;
    }
    const std::string file = server.Previews().SheetFile(VersionOf(*video), int(*sheet));
    std::optional<std::string> bytes
        = file.empty() ? std::nullopt : ReadFileUpTo(file, kMaxSheetBytes);
    if (!bytes || bytes->empty()) {
        WriteApiError(request, 404, "There is no such preview sheet.");
        return;
    }
    WriteApiAnswer(request, *bytes, "image/jpeg");
}
