#pragma once

// Window messages between the server's threads and its windows. The numbers are
// fixed: other threads, and a second copy of the program, post them.

#include "skin/frame_msg.h"

inline constexpr veneta::MessageId WM_APP = 0x8000;

// Conversion window notices: job added, progress, state notice, job deleted.
inline constexpr veneta::MessageId WM_APP_CONVERSION_ADDED = 0x80C9;
inline constexpr veneta::MessageId WM_APP_CONVERSION_PROGRESS = 0x80CA;
inline constexpr veneta::MessageId WM_APP_CONVERSION_STATE = 0x80CB;
inline constexpr veneta::MessageId WM_APP_CONVERSION_DELETED = 0x80CC;

// The engine has finished / failed; lParam is the session (main window) or the job
// (conversion window).
inline constexpr veneta::MessageId WM_APP_ENC_COMPLETE = 0x80CE;
inline constexpr veneta::MessageId WM_APP_ENC_ERROR = 0x80D0;
// Notification-area icon; also posted by a second copy of the program.
inline constexpr veneta::MessageId WM_APP_TRAY_NOTIFY = 0x80D1;
// Server start error (codes 1 to 7) or mapping result (code 8) in wParam.
inline constexpr veneta::MessageId WM_APP_SERVER_ERROR = 0x80D2;
// A client asked to stop the server and shut the computer down.
inline constexpr veneta::MessageId WM_APP_SHUTDOWN_PC = 0x80D3;

// Conversion queue operations, addressed to the conversion list (frame index 5).
inline constexpr veneta::MessageId WM_APP_QUEUE_FIRST = 0x80D4;
inline constexpr veneta::MessageId WM_APP_QUEUE_LAST = 0x80D9;

// Code 7 of WM_APP_SERVER_ERROR: no UPnP gateway took the mapping.
inline constexpr int kServerErrorNoUpnpDevice = 7;
// Code 8, sent to the settings dialog: the port is mapped, but the server cannot reach
// its own external address through the gateway.
inline constexpr int kServerErrorNoExternalAccess = 8;

// The settings dialog's frame index while it is open (the target of code 8).
inline constexpr int kFrameSettingsDialog = 6;

// The language key of the message the main window shows for a WM_APP_SERVER_ERROR
// code, or nullptr for a code it ignores.
const char* ServerErrorTextKey(int code);
