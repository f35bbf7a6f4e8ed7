#pragma once

// The live streaming requests: play, the playlists, the segments, play end and the
// engine process id. Each handler writes its whole answer and traces its entry and
// exit lines (HandlerTrace).

class HttpRequest;
class StreamingContext;

void OnNotifyPlay(StreamingContext& server, HttpRequest& request);
void OnNotifyPlayList(StreamingContext& server, HttpRequest& request);
void OnNotifyPlayFile(StreamingContext& server, HttpRequest& request);
void OnNotifyPlayEnd(StreamingContext& server, HttpRequest& request);
void OnNotifyPID(StreamingContext& server, HttpRequest& request);

// The browser API's tracks of a video and its subtitles as WebVTT (docs/api.md).
void OnNotifyApiTracks(StreamingContext& server, HttpRequest& request);
void OnNotifyApiSubtitle(StreamingContext& server, HttpRequest& request);
// A video's seek previews as a WebVTT thumbnails track, and their sprite sheets.
void OnNotifyApiPreviews(StreamingContext& server, HttpRequest& request);
void OnNotifyApiPreviewSheet(StreamingContext& server, HttpRequest& request);
