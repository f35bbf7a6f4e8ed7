#pragma once

// The live streaming requests: play, the playlists, the segments, play end and the
// engine process id. Each handler writes its whole answer and traces its entry and
// exit lines (HandlerTrace).

class HttpRequest;

void OnNotifyPlay(HttpRequest& request);
void OnNotifyPlayList(HttpRequest& request);
void OnNotifyPlayFile(HttpRequest& request);
void OnNotifyPlayEnd(HttpRequest& request);
void OnNotifyPID(HttpRequest& request);
