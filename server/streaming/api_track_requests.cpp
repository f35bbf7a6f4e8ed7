// "/api/v1/tracks" and "/api/v1/subtitle": the audio and subtitle tracks a browser may
// choose in a video, and a chosen text subtitle as WebVTT. Subtitle files beside the
// video are read through the subtitle library; text streams inside the file are taken
// out by the encoder engine (streaming/media_tracks.h). Picture subtitles have no
// WebVTT form: they are offered for burning in (the "sub" value of "/play").

#include "http/api_answer.h"
#include "http/request.h"
#include "library/api_support.h"
#include "library/media_properties_cache.h"
#include "streaming/request_handlers.h"
#include "streaming/streaming_context.h"
#include "streaming/webvtt.h"

namespace {

constexpr const char* kWebVttType = "text/vtt; charset=utf-8";
constexpr size_t kMaxFileNameBytes = 1024;

MediaFileVersion VersionOf(const ApiPath& video)
{
    return { video.diskPath, video.size, video.modifiedNs };
}

void WriteTrackFields(JsonWriter& json, const MediaTrack& track)
{
    json.Key("index").Int(track.number).Key("codec").String(track.codec);
    json.Key("language").String(track.language).Key("title").String(track.title);
    json.Key("default").Bool(track.isDefault).Key("forced").Bool(track.forced);
}

std::string FolderOf(const std::string& path)
{
    return path.substr(0, path.rfind('/') + 1);
}

// The frame rate the media cache knows for the video (0 when not known).
double KnownFrameRate(StreamingContext& server, const ApiPath& video)
{
    std::shared_ptr<MediaPropertiesCache> cache = server.Media().Cache();
    std::optional<CachedMediaRead> read
        = cache ? cache->Find(video.diskPath, { video.size, video.modifiedNs }) : std::nullopt;
    return read && read->opened ? read->properties.frameRate : 0;
}

std::optional<std::vector<SubtitleCue>> StreamCues(
    StreamingContext& server, HttpRequest& request, const ApiPath& video, const std::string& text)
{
    std::optional<int64_t> number = ParseWholeNumber(text, 0, 1000);
    if (!number) {
        WriteApiError(request, 400, "The value 'stream' must be a subtitle stream's number.");
        return std::nullopt;
    }
    const MediaTrackList tracks = server.Tracks().Tracks(VersionOf(video));
    if (size_t(*number) >= tracks.subtitles.size()) {
        WriteApiError(request, 404, "The video has no such subtitle stream.");
        return std::nullopt;
    }
    if (!tracks.subtitles[size_t(*number)].text) {
        WriteApiError(
            request, 422, "That subtitle stream holds pictures; it can only be burnt in.");
        return std::nullopt;
    }
    const std::string file = server.Tracks().SubtitleStreamFile(VersionOf(video), int(*number));
    std::optional<std::vector<SubtitleCue>> cues
        = file.empty() ? std::nullopt : ReadSubtitleCues(file);
    if (!cues)
        WriteApiError(request, 422, "The subtitle stream cannot be read.");
    return cues;
}

std::optional<std::vector<SubtitleCue>> FileCues(
    StreamingContext& server, HttpRequest& request, const ApiPath& video, const std::string& name)
{
    const std::string shareFolder = server.SharedFolders().FindSharedFolderPath(video.share);
    for (const SubtitleFileBeside& file : FindSubtitleFilesBeside(video.diskPath, shareFolder)) {
        if (file.name != name)
            continue;
        std::optional<std::vector<SubtitleCue>> cues = ReadSubtitleCues(
            FolderOf(video.diskPath) + file.name, "KR", KnownFrameRate(server, video));
        if (!cues)
            WriteApiError(request, 422, "The subtitle file cannot be read.");
        return cues;
    }
    WriteApiError(request, 404, "There is no such subtitle file beside the video.");
    return std::nullopt;
}

} // namespace

void OnNotifyApiTracks(StreamingContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiTracks", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<ApiPath> video = ResolveApiPath(server, request, *query, ApiPathKind::Video);
    if (!video)
        return;
    const MediaTrackList tracks = server.Tracks().Tracks(VersionOf(*video));
    JsonWriter json;
    json.BeginObject().Key("path").String(video->requestPath);
    json.Key("readable").Bool(tracks.readable).Key("duration").Real(tracks.durationSeconds);
    json.Key("audio").BeginArray();
    for (const MediaTrack& track : tracks.audio) {
        json.BeginObject();
        WriteTrackFields(json, track);
        json.Key("channels").Int(track.channels).Key("sampleRate").Int(track.sampleRate);
        json.End();
    }
    json.End().Key("subtitles").BeginArray();
    for (const MediaTrack& track : tracks.subtitles) {
        json.BeginObject().Key("kind").String("stream");
        WriteTrackFields(json, track);
        json.Key("text").Bool(track.text).End();
    }
    const std::string shareFolder = server.SharedFolders().FindSharedFolderPath(video->share);
    for (const SubtitleFileBeside& file : FindSubtitleFilesBeside(video->diskPath, shareFolder)) {
        json.BeginObject().Key("kind").String("file").Key("file").String(file.name);
        json.Key("codec").String(file.format).Key("language").String(file.language);
        json.Key("title").String(file.name).Key("text").Bool(true).End();
    }
    json.End().End();
    WriteApiAnswer(request, json.Text());
}

void OnNotifyApiSubtitle(StreamingContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiSubtitle", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<ApiPath> video = ResolveApiPath(server, request, *query, ApiPathKind::Video);
    if (!video)
        return;
    const std::string* stream = query->Find("stream");
    const std::string* file = query->Find("file");
    if ((stream != nullptr) == (file != nullptr)) {
        WriteApiError(request, 400, "Name one subtitle: 'stream' or 'file'.");
        return;
    }
    if (file && (file->empty() || file->size() > kMaxFileNameBytes)) {
        WriteApiError(request, 400, "The value 'file' is not a file name.");
        return;
    }
    std::optional<std::vector<SubtitleCue>> cues = stream
        ? StreamCues(server, request, *video, *stream)
        : FileCues(server, request, *video, *file);
    if (cues)
        WriteApiAnswer(request, MakeWebVtt(std::move(*cues)), kWebVttType);
}
