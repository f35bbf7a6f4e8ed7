// QZ_MakeM3u8: the playlists of a session, written when the client asks to play.

#include "config/settings.h"
#include "config/trace.h"
#include "streaming/client_info.h"
#include "streaming/hls_playlists.h"
#include "streaming/session_list.h"
#include "streaming/streaming_context.h"
#include "streaming/work_folders.h"

#include <algorithm>

namespace {

void TraceMasterChoice(MasterChoice choice, const std::string& connType)
{
    switch (choice) {
    case MasterChoice::Preset1:
        TraceMessage(
            kTraceLive, "  - BandWidth is fixed (%s mode => preset 1 fixed)", connType.c_str());
        break;
    case MasterChoice::Preset3:
        TraceMessage(
            kTraceLive, "  - BandWidth is fixed (%s mode => preset 3 fixed)", connType.c_str());
        break;
    case MasterChoice::AllFour:
        TraceMessage(kTraceLive, "  - BandWidth is float ");
        break;
    }
}

} // namespace

int QZ_MakeM3u8(StreamingContext& server, const std::string& clientId, const std::string& playTime,
    std::optional<int64_t> mediaDurationMs)
{
    TraceMessage(kTraceLive, "<<QZ_MakeM3u8   START: (szID:'%s', szPlayTime:'%s')",
        clientId.c_str(), playTime.c_str());
    std::optional<int64_t> seconds = ParsePlayTime(playTime);
    std::shared_ptr<ClientInfo> session = server.Sessions().QZ_FindClientInfo(clientId);
    if (!seconds || !session)
        return 0;
    int count = SegmentCountFor(*seconds);
    if (mediaDurationMs && *mediaDurationMs > 0)
        count = std::min(count, SegmentCountForDuration(*mediaDurationMs));

    // URLs point the client back at the host it connected under, on the external port.
    PlaylistTarget target { server.Clients().FindClientHost(clientId).value_or(""),
        server.ExtPort(), clientId,
        session->OSType() == kBrowserOsType ? PlaylistUrls::Relative : PlaylistUrls::Absolute };
    std::string folder = server.WorkFolders().SessionWorkFolder(clientId);
    CreateFolderPath(folder);
    server.WorkFolders().RememberWorkFolder(folder); // swept at stop even if no engine starts
    std::string connType = session->ConnType();
    MasterChoice choice = ChooseMasterVariants(
        server.Settings().ReadInt(kKeyFixedBandwidth, kDefaultFixedBandwidth), connType);
    TraceMasterChoice(choice, connType);
    if (!WritePlaylists(folder, target, choice, count)) {
        TraceMessage(kTraceStreamFailure, "<<QZ_MakeM3u8 FAILED>> ('%s')", folder.c_str());
        return 0;
    }
    session->SetPlaylist(count);
    TraceMessage(kTraceLive, "<<QZ_MakeM3u8 SUCCEED>>");
    return 1;
}
