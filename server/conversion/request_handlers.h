#pragma once

// The conversion requests and the subtitle overlay. Each handler writes its whole
// answer and traces its entry and exit lines.

class ConversionContext;
class HttpRequest;

void OnNotifyGetConvertList(ConversionContext& server, HttpRequest& request);
void OnNotifyConvert(ConversionContext& server, HttpRequest& request);
void OnNotifyConvertCancel(ConversionContext& server, HttpRequest& request);
void OnNotifyConvertUpdateProgress(ConversionContext& server, HttpRequest& request);
void OnNotifyConvertDeleteCompleteList(ConversionContext& server, HttpRequest& request);
void OnNotifySubtitle(ConversionContext& server, HttpRequest& request);
