#pragma once

// The main window's handling of a live engine's notices (WM_APP_ENC_COMPLETE and
// WM_APP_ENC_ERROR). The notice's lParam is the key the session's engine run posted
// with; a notice whose run is over, or whose session was released, finds nothing and
// is ignored. Runs on the main window's thread (the daemon's message loop).

#include "skin/frame_msg.h"

// The engine has finished: stop it if it still runs. Returns 0.
veneta::LResult OnENCComplete(veneta::LParam session);
// The engine has failed: stop it if it still runs and clear the play state. Returns 0.
veneta::LResult OnENCError(veneta::LParam session);

// Routes one of the two notices to its handler.
void HandleEngineNotice(veneta::MessageId message, veneta::LParam session);
