// "/api/v1/positions", "/api/v1/position", "/api/v1/position/save",
// "/api/v1/position/forget", "/api/v1/profiles", "/api/v1/profile/create",
// "/api/v1/profile/delete": where each
// profile stopped in which video (library/play_positions.h). Saving and forgetting
// change what a person sees and are refused when another site sends them (the route
// table marks them so).

#include "http/api_answer.h"
#include "http/request.h"
#include "library/api_support.h"
#include "library/library_context.h"
#include "library/media_properties_cache.h"
#include "library/request_handlers.h"
#include "library/share_confine.h"

#include <chrono>

namespace {

constexpr int64_t kDefaultPositions = 20;
constexpr int64_t kMaxListedPositions = 200;
// The longest video whose positions are taken: a week.
constexpr double kMaxSeconds = 7 * 24 * 3600.0;

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void WritePositionFields(JsonWriter& json, const PlayPosition& position)
{
    json.Key("position").Real(position.seconds);
    json.Key("duration").Real(position.duration);
    json.Key("watched").Bool(position.watched);
    json.Key("updated").Int(position.updatedMs);
}

// The answer about one video's position: the position when one is kept, else nothing.
void WritePositionAnswer(HttpRequest& request, const std::string& profile, const std::string& path,
    const PlayPosition* position)
{
    JsonWriter json;
    json.BeginObject().Key("profile").String(profile);
    json.Key("path").String(path).Key("saved").Bool(position != nullptr);
    if (position)
        WritePositionFields(json, *position);
    json.End();
    WriteApiAnswer(request, json.Text());
}

std::optional<PositionFilter> ReadFilter(HttpRequest& request, const QueryValues& query)
{
    const std::string* value = query.Find("state");
    if (!value || *value == "all")
        return PositionFilter::All;
    if (*value == "unfinished")
        return PositionFilter::Unfinished;
    if (*value == "watched")
        return PositionFilter::Watched;
    WriteApiError(request, 400, "The value 'state' must be all, unfinished or watched.");
    return std::nullopt;
}

// The length of the video as its media properties give it, 0 when not known.
double KnownDuration(LibraryContext& server, const ApiPath& video)
{
    std::shared_ptr<MediaPropertiesCache> cache = server.Media().Cache();
    if (!cache)
        return 0;
    std::optional<CachedMediaRead> read
        = cache->Find(video.diskPath, { video.size, video.modifiedNs });
    return read && read->opened ? double(read->properties.durationMs) / 1000.0 : 0;
}

struct ProfileAndVideo {
    std::string profile;
    ApiPath video;
};

std::optional<ProfileAndVideo> ReadProfileAndVideo(
    LibraryContext& server, HttpRequest& request, const QueryValues& query)
{
    std::optional<std::string> profile = ReadProfile(request, query);
    if (!profile)
        return std::nullopt;
    std::optional<ApiPath> video = ResolveApiPath(server, request, query, ApiPathKind::Video);
    if (!video)
        return std::nullopt;
    return ProfileAndVideo { std::move(*profile), std::move(*video) };
}

void WriteTooManyProfiles(HttpRequest& request)
{
    WriteApiError(request, 409,
        "There are " + std::to_string(kMaxProfiles)
            + " profiles already; delete one before making another.");
}

// The profile value that a request about one profile must name.
std::optional<std::string> RequireProfile(HttpRequest& request, const QueryValues& query)
{
    if (!query.Find("profile")) {
        WriteApiError(request, 400, "The value 'profile' is missing.");
        return std::nullopt;
    }
    return ReadProfile(request, query);
}

} // namespace

void OnNotifyApiPositions(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiPositions", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<std::string> profile = ReadProfile(request, *query);
    std::optional<PositionFilter> filter = profile ? ReadFilter(request, *query) : std::nullopt;
    std::optional<int64_t> limit = filter
        ? ReadWholeNumber(request, *query, "limit", kDefaultPositions, 1, kMaxListedPositions)
        : std::nullopt;
    if (!limit)
        return;
    std::optional<std::vector<PlayPosition>> positions
        = server.Positions().List(*profile, *filter, size_t(*limit));
    if (!positions) {
        WriteApiError(request, 503, "The positions cannot be read now.");
        return;
    }
    JsonWriter json;
    json.BeginObject().Key("profile").String(*profile);
    json.Key("positions").BeginArray();
    int64_t pending = 0;
    for (const PlayPosition& position : *positions) {
        // A video no longer shared (or gone) is not offered; its position stays.
        std::optional<VideoFacts> video = FindSharedVideo(server, position.path);
        if (video)
            pending += WriteVideoEntry(server, json, *video,
                [&position](JsonWriter& out) { WritePositionFields(out, position); });
    }
    json.End().Key("pending").Int(pending).End();
    WriteApiAnswer(request, json.Text());
}

void OnNotifyApiPosition(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiPosition", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<ProfileAndVideo> asked = ReadProfileAndVideo(server, request, *query);
    if (!asked)
        return;
    PlayPosition position;
    bool found = false;
    if (!server.Positions().Find(asked->profile, asked->video.requestPath, position, found)) {
        WriteApiError(request, 503, "The positions cannot be read now.");
        return;
    }
    WritePositionAnswer(
        request, asked->profile, asked->video.requestPath, found ? &position : nullptr);
}

void OnNotifyApiSavePosition(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiSavePosition", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<ProfileAndVideo> asked = ReadProfileAndVideo(server, request, *query);
    if (!asked)
        return;
    const std::string* secondsText = query->Find("position");
    const std::string* durationText = query->Find("duration");
    const std::optional<double> seconds
        = secondsText ? ParseDecimal(*secondsText, 0, kMaxSeconds) : std::nullopt;
    const std::optional<double> given
        = durationText ? ParseDecimal(*durationText, 0, kMaxSeconds) : std::optional<double>(0);
    if (!seconds || !given) {
        WriteApiError(request, 400,
            "The values 'position' and 'duration' must be seconds, as decimal numbers.");
        return;
    }
    // The file's own length wins over what a page says it is.
    double duration = KnownDuration(server, asked->video);
    if (duration <= 0)
        duration = given.value_or(0);
    const double at = seconds.value_or(0);
    PlayPosition saved;
    switch (server.Positions().Save(asked->profile, asked->video.requestPath,
        duration > 0 && at > duration ? duration : at, duration, NowMs(), saved)) {
    case SaveOutcome::Saved:
        break;
    case SaveOutcome::TooManyProfiles:
        WriteTooManyProfiles(request);
        return;
    case SaveOutcome::Failed:
        WriteApiError(request, 503, "The position cannot be saved now.");
        return;
    }
    WritePositionAnswer(request, asked->profile, saved.path, &saved);
}

void OnNotifyApiForgetPosition(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiForgetPosition", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<std::string> profile = ReadProfile(request, *query);
    // The file itself may be gone: the path is taken as it is written.
    std::optional<std::string> path
        = profile ? RequireText(request, *query, "path", kMaxApiPathBytes) : std::nullopt;
    if (!path)
        return;
    const std::string requestPath = "/" + NormalizeRequestFolder(*path);
    if (!server.Positions().Forget(*profile, requestPath)) {
        WriteApiError(request, 503, "The position cannot be forgotten now.");
        return;
    }
    WritePositionAnswer(request, *profile, requestPath, nullptr);
}

void OnNotifyApiProfiles(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiProfiles", request.QueryString());
    if (!ReadApiQuery(request))
        return;
    std::optional<std::vector<ProfileSummary>> profiles = server.Positions().Profiles();
    if (!profiles) {
        WriteApiError(request, 503, "The profiles cannot be read now.");
        return;
    }
    JsonWriter json;
    json.BeginObject().Key("profiles").BeginArray();
    for (const ProfileSummary& profile : *profiles) {
        json.BeginObject().Key("name").String(profile.name);
        json.Key("positions").Int(int64_t(profile.positions));
        json.Key("updated").Int(profile.updatedMs).End();
    }
    json.End();
    json.Key("max").Int(int64_t(kMaxProfiles)).Key("default").String(kDefaultProfile).End();
    WriteApiAnswer(request, json.Text());
}

void OnNotifyApiDeleteProfile(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiDeleteProfile", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<std::string> profile = RequireProfile(request, *query);
    if (!profile)
        return;
    if (!server.Positions().DeleteProfile(*profile)) {
        WriteApiError(request, 503, "The profile cannot be deleted now.");
        return;
    }
    JsonWriter json;
    json.BeginObject().Key("deleted").String(*profile).End();
    WriteApiAnswer(request, json.Text());
}

void OnNotifyApiCreateProfile(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiCreateProfile", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<std::string> profile = RequireProfile(request, *query);
    if (!profile)
        return;
    switch (server.Positions().CreateProfile(*profile, NowMs())) {
    case SaveOutcome::Saved:
        break;
    case SaveOutcome::TooManyProfiles:
        WriteTooManyProfiles(request);
        return;
    case SaveOutcome::Failed:
        WriteApiError(request, 503, "The profile cannot be made now.");
        return;
    }
    JsonWriter json;
    json.BeginObject().Key("profile").String(*profile).End();
    WriteApiAnswer(request, json.Text());
}
