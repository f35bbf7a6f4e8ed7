#pragma once

// The handlers of the request table, one per row (see dispatch.h). Each writes its
// whole answer and traces its entry and exit lines (HandlerTrace).

class HttpRequest;

void OnNotifyConnect(HttpRequest& request);
void OnNotifyConnectOff(HttpRequest& request);
void OnNotifyGetList(HttpRequest& request);
void OnNotifyGetThumbnail(HttpRequest& request);
void OnNotifyGetFileInfo(HttpRequest& request);
void OnNotifyPlay(HttpRequest& request);
void OnNotifyPlayList(HttpRequest& request);
void OnNotifyPlayFile(HttpRequest& request);
void OnNotifyPlayEnd(HttpRequest& request);
void OnNotifyFileDownload(HttpRequest& request);
void OnNotifyPlayDirect(HttpRequest& request);
void OnNotifyGetConvertList(HttpRequest& request);
void OnNotifyConvert(HttpRequest& request);
void OnNotifyConvertCancel(HttpRequest& request);
void OnNotifyConvertUpdateProgress(HttpRequest& request);
void OnNotifyConvertDeleteCompleteList(HttpRequest& request);
void OnNotifyXML(HttpRequest& request);
void OnNotifyThumb(HttpRequest& request);
void OnNotifyPID(HttpRequest& request);
void OnNotifySubtitle(HttpRequest& request);
