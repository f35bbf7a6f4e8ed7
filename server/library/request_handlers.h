#pragma once

// The media library's requests: listings, file information, thumbnails, downloads,
// direct play and the one-time list files. Each handler writes its whole answer and
// traces its entry and exit lines (HandlerTrace).

class HttpRequest;
class LibraryContext;

void OnNotifyGetList(LibraryContext& server, HttpRequest& request);
void OnNotifyGetThumbnail(LibraryContext& server, HttpRequest& request);
void OnNotifyThumb(LibraryContext& server, HttpRequest& request);
void OnNotifyGetFileInfo(LibraryContext& server, HttpRequest& request);
void OnNotifyFileDownload(LibraryContext& server, HttpRequest& request);
void OnNotifyPlayDirect(LibraryContext& server, HttpRequest& request);
void OnNotifyXML(LibraryContext& server, HttpRequest& request);

// The browser's JSON API (docs/api.md).
void OnNotifyApiVersion(LibraryContext& server, HttpRequest& request);
void OnNotifyApiUnknown(LibraryContext& server, HttpRequest& request);
void OnNotifyApiFolder(LibraryContext& server, HttpRequest& request);
void OnNotifyApiSearch(LibraryContext& server, HttpRequest& request);
void OnNotifyApiRecent(LibraryContext& server, HttpRequest& request);
void OnNotifyApiPositions(LibraryContext& server, HttpRequest& request);
void OnNotifyApiPosition(LibraryContext& server, HttpRequest& request);
void OnNotifyApiSavePosition(LibraryContext& server, HttpRequest& request);
void OnNotifyApiForgetPosition(LibraryContext& server, HttpRequest& request);
void OnNotifyApiProfiles(LibraryContext& server, HttpRequest& request);
void OnNotifyApiDeleteProfile(LibraryContext& server, HttpRequest& request);
void OnNotifyApiCreateProfile(LibraryContext& server, HttpRequest& request);
