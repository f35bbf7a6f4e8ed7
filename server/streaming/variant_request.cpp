#include "streaming/variant_request.h"

#include "config/settings.h"
#include "config/trace.h"
#include "http/request.h"
#include "http/send_file.h"
#include "platform/process.h"
#include "streaming/client_info.h"
#include "streaming/hls_playlists.h"
#include "streaming/live_engine.h"
#include "streaming/request_handlers.h"
#include "streaming/segment_request.h"
#include "streaming/session_list.h"
#include "streaming/streaming_context.h"
#include "streaming/work_folders.h"

namespace {

void StartVariant(
    StreamingContext& server, ClientInfo& session, int variant, const std::string& query)
{
    session.BeginVariant(variant);

    // One step of the session's engine: a second request of the same client (one
    // that retries) waits for this start to finish and then restarts, rather than
    // stopping an engine that is still opening its input.
    TraceMessage(kTraceLive, "PlayFile : pClientInfo->m_Encoder.CreateEnginePipe");
    std::vector<std::string> arguments;
    LiveStart started = RestartLiveEngine(server, session, -1, SeekBuild::No, true, arguments);
    if (started == LiveStart::NoPipe || started == LiveStart::NoLine
        || started == LiveStart::Overtaken) {
        // A run that could not start leaves the session able to take the next request.
        session.VariantAbandoned();
        return;
    }
    TraceMessage(kTraceLive, " -- Starting FFMPEG Client:(%s), Parameter:(%s)",
        session.Dump().c_str(), CommandLineText(arguments).c_str());
    if (started == LiveStart::Started) {
        session.VariantStarted();
        server.WorkFolders().RememberWorkFolder(
            server.WorkFolders().SessionWorkFolder(session.szClientID));
        TraceMessage(kTraceLive, "<<QZ_StartClient  SUCCEED >>");
        return;
    }
    TraceMessage(kTraceStreamFailure, " FAILED - qz_play_file : StartENC (%s) ", query.c_str());
    session.VariantFailed();
}

} // namespace

void QZ_StartClient(StreamingContext& server, const std::string& clientId, const std::string& uri)
{
    TraceMessage(kTraceLive, "<<QZ_StartClient (szClientID:'%s')>>", clientId.c_str());
    TraceMessage(kTraceLive, " QZ_StartClient : request_info->uri : %s", uri.c_str());
    std::string name = uri.substr(uri.rfind('/') + 1);
    if (name == kMasterPlaylistName) {
        TraceMessage(kTraceLive, " - CAST request m3u8");
        return;
    }
    std::optional<int> variant = ParseVariantPlaylistName(name);
    if (!variant)
        return;
    std::shared_ptr<ClientInfo> session = server.Sessions().QZ_FindClientInfo(clientId);
    if (!session) {
        TraceMessage(kTraceLive, " - ignore m3u8   pClientInfo is NULL");
        return;
    }
    // A variant the stream does not offer has no playlist, and no engine.
    if (!session->HasVariant(*variant)) {
        TraceMessage(kTraceLive, " - ignore m3u8   variant %d not offered", *variant);
        return;
    }
    PlayState play = session->Play();
    // A session without playlists has nothing to play: no engine for it.
    if (play.maxSegment < 0) {
        TraceMessage(kTraceLive, " - ignore m3u8   no playlist");
        return;
    }
    if (play.lastServed == play.maxSegment) {
        TraceMessage(
            kTraceLive, " - ignore m3u8   pClientInfo->nLastReqTSNum == pClientInfo->nMaxTSNums");
        return;
    }
    StartVariant(server, *session, *variant, uri);
}

void OnNotifyPlayList(StreamingContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyPlayList", request.QueryString());
    std::optional<LiveRequestPath> path = ParseLiveRequestPath(request.Uri(), "/list/");
    // Only the playlists of a work folder are served here.
    if (!path || !IsPlaylistName(path->name)) {
        request.SendError(404, "File not found");
        return;
    }
    std::string file = WorkFileOf(server.Places().ServicesFolder(), *path);
    QZ_StartClient(server, path->clientId, request.Uri());
    if (!FileExists(file)) {
        request.SendError(404, "File not found");
        return;
    }
    TraceMessage(kTraceRequestStep, " - TRY : qz_mg_send_file : ('%s')", file.c_str());
    qz_mg_send_file(request, file);
}
