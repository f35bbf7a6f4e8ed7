// The media of the television device on the server's HTTP front: the file as it is
// (through the one file sender, so confinement and byte ranges stay one code path),
// the transcoded stream, the thumbnail and the subtitles. Every request names an
// object id, which goes through the catalog's mapping and confinement; nothing is
// served while the device is switched off.

#include "config/trace.h"
#include "dlna/dlna_context.h"
#include "dlna/media_links.h"
#include "dlna/media_profiles.h"
#include "dlna/request_handlers.h"
#include "dlna/srt_document.h"
#include "http/request.h"
#include "http/send_file.h"
#include "library/thumbnail.h"
#include "streaming/subtitle_entries.h"

#include <cstdio>

namespace {

// JPEG_TN is at most 160×160.
constexpr const char* kThumbnailWidth = "160";
constexpr const char* kThumbnailHeight = "120";

std::string BaseOf(const std::string& diskPath)
{
    const size_t dot = diskPath.rfind('.');
    const size_t slash = diskPath.rfind('/');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash)
        ? diskPath
        : diskPath.substr(0, dot);
}

void SendText(HttpRequest& request, const std::string& contentType, const std::string& body)
{
    request.Printf("HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
                   "Connection: close\r\n\r\n",
        contentType.c_str(), body.size());
    if (!request.IsHead())
        request.Write(body);
}

// The subtitle address a screen asks for with "getcaptionInfo.sec: 1".
std::string CaptionHeader(HttpRequest& request, const CatalogObject& video)
{
    std::optional<std::string> ask = request.Header("getcaptionInfo.sec");
    std::optional<std::string> host = request.Header("Host");
    if (!ask || *ask != "1" || !host || !video.hasSubtitle)
        return std::string();
    return "CaptionInfo.sec: " + SubtitleUrl("http://" + *host, video.id, "srt") + "\r\n";
}

void SendDirect(HttpRequest& request, CatalogObject& video, DlnaContext& server)
{
    server.Catalog().Describe(video);
    const std::string fileName = video.relativePath.substr(video.relativePath.rfind('/') + 1);
    const DirectProfile profile = DirectProfileOf(fileName, video.properties);
    SendFileExtras extras;
    extras.contentType = profile.mimeType;
    extras.headers = "transferMode.dlna.org: Streaming\r\ncontentFeatures.dlna.org: "
        + DirectContentFeatures(profile) + "\r\n" + CaptionHeader(request, video);
    qz_mg_send_file(request, video.diskPath, extras);
}

void SendThumbnail(HttpRequest& request, const CatalogObject& video, DlnaContext& server)
{
    const std::string file = server.Thumbnails().QZ_MakeThumbnail(
        video.diskPath, kThumbnailWidth, kThumbnailHeight, "", video.relativePath);
    SendFileExtras extras;
    extras.contentType = "image/jpeg";
    extras.headers = "transferMode.dlna.org: Interactive\r\ncontentFeatures.dlna.org: "
        + ThumbnailContentFeatures() + "\r\n";
    qz_mg_send_file(request, file, extras);
}

void SendSubtitle(HttpRequest& request, const CatalogObject& video, const std::string& format)
{
    if (!video.hasSubtitle) {
        request.SendError(404, "Not Found");
        return;
    }
    if (format == "smi") {
        SendFileExtras extras;
        extras.contentType = "application/smil";
        qz_mg_send_file(request, BaseOf(video.diskPath) + ".smi", extras);
        return;
    }
    SendText(
        request, "text/srt; charset=utf-8", MakeSrtDocument(ReadSubtitleEntries(video.diskPath)));
}

} // namespace

void OnNotifyDlnaMedia(DlnaContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyDlnaMedia", request.Uri());
    const std::optional<MediaLink> link = ParseMediaLink(request.Uri());
    std::optional<CatalogObject> video;
    if (server.IsDlnaServing() && link)
        video = server.Catalog().Resolve(link->id);
    if (!video || video->kind != ObjectKind::Video) {
        request.SendError(404, "Not Found");
        return;
    }
    switch (link->kind) {
    case MediaLinkKind::Direct:
        SendDirect(request, *video, server);
        break;
    case MediaLinkKind::Thumbnail:
        SendThumbnail(request, *video, server);
        break;
    case MediaLinkKind::Subtitle:
        server.Catalog().Describe(*video);
        SendSubtitle(request, *video, link->format);
        break;
    case MediaLinkKind::Stream:
        server.Catalog().Describe(*video);
        server.Streams().Serve(
            request, *video, link->format == "720" ? 720 : 1080, CaptionHeader(request, *video));
        break;
    }
}
