#pragma once

// The media library's requests: listings, file information, thumbnails, downloads,
// direct play and the one-time list files. Each handler writes its whole answer and
// traces its entry and exit lines (HandlerTrace).

class HttpRequest;

void OnNotifyGetList(HttpRequest& request);
void OnNotifyGetThumbnail(HttpRequest& request);
void OnNotifyThumb(HttpRequest& request);
void OnNotifyGetFileInfo(HttpRequest& request);
void OnNotifyFileDownload(HttpRequest& request);
void OnNotifyPlayDirect(HttpRequest& request);
void OnNotifyXML(HttpRequest& request);
