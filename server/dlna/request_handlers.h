#pragma once

// Handlers of the television device's media requests ("/dlna/..."; media_links.h),
// admitted from the home network only and without a client id.

class DlnaContext;
class HttpRequest;

void OnNotifyDlnaMedia(DlnaContext& server, HttpRequest& request);
