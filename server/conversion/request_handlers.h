#pragma once

// The conversion requests and the subtitle overlay. Each handler writes its whole
// answer and traces its entry and exit lines.

class HttpRequest;

void OnNotifyGetConvertList(HttpRequest& request);
void OnNotifyConvert(HttpRequest& request);
void OnNotifyConvertCancel(HttpRequest& request);
void OnNotifyConvertUpdateProgress(HttpRequest& request);
void OnNotifyConvertDeleteCompleteList(HttpRequest& request);
void OnNotifySubtitle(HttpRequest& request);
