#pragma once

// Keeping the server's PIN registration at the console. With a stored "PINCode" whose
// "MACA" is the current hardware address the registration is updated; otherwise (and
// once more when the update is refused) the server registers anew, and a new PIN code
// replaces the stored one. The server object's SyncPin (remote_context.h) does this
// and, on success, arms the daily renewal (pin_renewal.h).

#include <string>

class CRelayServer;
class SettingsStore;

// True when the console holds a current registration afterwards.
bool SyncPinCode(SettingsStore& settings, CRelayServer& relay, const std::string& hardwareAddress);

// Tells the console the PIN mode changed; the answer is not examined. Does nothing
// without a stored "PINCode".
void ReportPinMode(SettingsStore& settings, CRelayServer& relay, bool pinModeOn);
