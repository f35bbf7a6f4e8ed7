// "/play": prepares a live stream of one file for a client and answers with the
// URL of its master playlist.

#include "config/settings.h"
#include "config/trace.h"
#include "http/answer.h"
#include "http/home_network.h"
#include "http/request.h"
#include "library/media_properties.h"
#include "library/request_paths.h"
#include "library/share_confine.h"
#include "streaming/browser_plan.h"
#include "streaming/client_info.h"
#include "streaming/hls_playlists.h"
#include "streaming/live_engine.h"
#include "streaming/play_input.h"
#include "streaming/request_handlers.h"
#include "streaming/session_list.h"
#include "streaming/streaming_context.h"

#include <sys/stat.h>

namespace {

bool IsRegularFile(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The file's real duration, when it can be read; the playlists never list more.
std::optional<int64_t> MediaDurationOf(const MediaProperties& properties)
{
    if (properties.durationMs <= 0)
        return std::nullopt;
    return properties.durationMs;
}

// The file's key frame index when a pass has made it; otherwise a pass starts in the
// background, and this play goes on without it.
std::shared_ptr<const MediaKeyframeIndex> KeyframesOf(
    StreamingContext& server, const std::string& path)
{
    KeyframeIndexer::Lookup lookup = server.Keyframes().Find(path);
    if (lookup.state == KeyframeIndexer::State::Unknown)
        server.Keyframes().Request(path);
    return lookup.index;
}

// A browser's playlists; false when the file offers it nothing (no picture), and the
// phone's playlists serve it instead.
bool MakeBrowserPlaylists(StreamingContext& server, const PlayInput& input,
    const MediaProperties& properties, std::shared_ptr<const MediaKeyframeIndex> index,
    bool homeNetwork)
{
    BrowserPlanInput plan;
    plan.properties = properties;
    plan.index = std::move(index);
    plan.playSeconds = ParsePlayTime(input.playtime);
    // The browser shows text subtitles itself (a SAMI file beside the video among them);
    // only a picture stream it chose is burnt in.
    plan.burntSubtitles = input.sub.has_value();
    plan.audioTrack = input.audio.value_or(-1);
    plan.homeNetwork = homeNetwork;
    std::shared_ptr<StreamPlan> made = MakeBrowserPlan(plan);
    if (made->variants.empty())
        return false;
    return QZ_MakeBrowserM3u8(server, input.id, made) == 1;
}

// A play request starts a new stream: the engine of the one before stops and its
// segments go, so no segment of the earlier file (or screen) is ever served for
// this one, and nothing is served until a variant playlist starts the new run.
void EndEarlierStream(StreamingContext& server, ClientInfo& session)
{
    session.EndPlay(PlayEnd::Finished);
    RemoveOldSegments(server.WorkFolders().SessionWorkFolder(session.szClientID));
}

struct PlayAnswer {
    std::string url; // the master playlist
    std::string startVariant; // a browser's: the variant playlist to start with
};
// The track choices of the input, when the file has such streams.
bool TracksExist(StreamingContext& server, const PlayInput& input, const std::string& diskPath)
{
    if (!input.audio && !input.sub)
        return true;
    struct stat info { };
    if (stat(diskPath.c_str(), &info) != 0)
        return false;
    const MediaTrackList tracks = server.Tracks().Tracks({ diskPath, int64_t(info.st_size),
        int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec });
    // Text subtitles are shown by the browser itself; only pictures are burnt in.
    return (!input.audio || size_t(*input.audio) < tracks.audio.size())
        && (!input.sub
            || (size_t(*input.sub) < tracks.subtitles.size()
                && !tracks.subtitles[size_t(*input.sub)].text));
}

// The answer's code, with the master playlist URL in url on success.
int PreparePlay(
    StreamingContext& server, const PlayInput& input, bool homeNetwork, PlayAnswer& answer)
{
    if (!IsUsablePlayInput(input))
        return kResultFailedInput;
    std::shared_ptr<ClientInfo> session = server.Sessions().QZ_FindClientInfo(input.id);
    if (!session)
        return kResultFailedId;
    // The client's own engine ends with this request, so it does not count: a
    // client at the limit may switch files.
    if (!QZ_IsLiveClientRoomFor(server, *session))
        return kResultFullUser;
    RequestPathMapping mapping
        = MapRequestPath(server.SharedFolders(), input.path, RequestPathKind::File);
    // A link that leads out of its share is not there, as for downloads.
    if (!IsMappedInsideShare(server.SharedFolders(), mapping) || !IsRegularFile(mapping.diskPath))
        return kResultNotExist;
    // A stream the file does not have would only make the engine fail later.
    if (!TracksExist(server, input, mapping.diskPath))
        return kResultFailedInput;
    EndEarlierStream(server, *session);
    session->SetTracks({ input.audio.value_or(-1), input.sub.value_or(-1) });
    session->SetConnType(input.conntype); // the playlist writer reads both
    session->SetOSType(input.ostype);
    MediaProperties properties;
    server.Media().ReadMediaProperties(mapping.diskPath, properties);
    std::shared_ptr<const MediaKeyframeIndex> index = KeyframesOf(server, mapping.diskPath);
    bool browser = input.variants == kBrowserVariants
        && MakeBrowserPlaylists(server, input, properties, index, homeNetwork);
    if (!browser) {
        auto plan = std::make_shared<StreamPlan>();
        plan->index = std::move(index);
        session->SetPlan(std::move(plan));
        if (!QZ_MakeM3u8(server, input.id, input.playtime, MediaDurationOf(properties)))
            return kResultFailedUnknown;
    }
    server.Sessions().QZ_EditClientInfo(
        input.id, input.path, input.width, input.height, input.ostype, input.conntype);
    answer.url = MakeMasterPlaylistUrl(
        server.Clients().FindClientHost(input.id).value_or(""), server.ExtPort(), input.id);
    if (browser)
        answer.startVariant = VariantPlaylistName(session->Plan()->startVariant);
    return kResultOk;
}

const char* TextKeyOf(int code)
{
    switch (code) {
    case kResultFailedInput:
        return kTextFailedInput;
    case kResultFailedId:
        return kTextFailedId;
    case kResultFullUser:
        return kTextFullUser;
    case kResultNotExist:
        return kTextNotExistFile;
    default:
        return kTextFailedUnknown;
    }
}

// A browser's answer names the variant to start with after the phone's keys; the
// phone's answer is the protocol's.
std::string SuccessDocument(const PlayAnswer& answer)
{
    if (answer.startVariant.empty())
        return MakeSuccessAnswer(answer.url);
    return PlistDocument(
        PlistAnswer(kResultOk, answer.url).Add("startvariant", answer.startVariant).Body());
}

void ResponsePlay(StreamingContext& server, HttpRequest& request, const std::string& clientId,
    int code, const PlayAnswer& answer)
{
    std::string document = code == kResultOk
        ? SuccessDocument(answer)
        : MakeErrorAnswer(server.Texts(), code, TextKeyOf(code));
    WritePlistAnswer(request, document);
    TraceMessage(kTraceRequest, "ResponsePlay : ('%s')", clientId.c_str());
    TraceMessage(kTraceProgress, "ResponsePlay XML : ('%s')", document.c_str());
}

} // namespace

void OnNotifyPlay(StreamingContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyPlay", request.QueryString());
    PlayInput input = ReadPlayInput(request);
    PlayAnswer answer;
    int code = PreparePlay(server, input, IsHomeNetworkAddress(request.RemoteAddress()), answer);
    ResponsePlay(server, request, input.id, code, answer);
}
