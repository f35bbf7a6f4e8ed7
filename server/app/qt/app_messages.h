#pragma once

// Window messages between the desktop application's threads and its windows. The
// numbers are fixed: other threads, and a second copy of the program, post them. The
// server itself raises no window messages: the window's core view posts these when
// the server calls it.

#include "skin/frame_msg.h"

inline constexpr veneta::MessageId WM_APP = 0x8000;

// Conversion window notices: job added, progress, state notice, job deleted.
inline constexpr veneta::MessageId WM_APP_CONVERSION_ADDED = 0x80C9;
inline constexpr veneta::MessageId WM_APP_CONVERSION_PROGRESS = 0x80CA;
inline constexpr veneta::MessageId WM_APP_CONVERSION_STATE = 0x80CB;
inline constexpr veneta::MessageId WM_APP_CONVERSION_DELETED = 0x80CC;

// Notification-area icon; also posted by a second copy of the program.
inline constexpr veneta::MessageId WM_APP_TRAY_NOTIFY = 0x80D1;
// A server error code in wParam for a window to show: the mapping worker posts
// code 7 to the main window and code 8 to the settings dialog.
inline constexpr veneta::MessageId WM_APP_SERVER_ERROR = 0x80D2;
#include "core/server_errors.h"

// The settings dialog's frame index while it is open (the target of code 8).
inline constexpr int kFrameSettingsDialog = 6;
