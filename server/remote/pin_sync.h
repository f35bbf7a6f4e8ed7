#pragma once

// Keeping the server's PIN registration at the console. With a stored "PINCode" whose
// "MACA" is the current hardware address the registration is updated; otherwise (and
// once more when the update is refused) the server registers anew, and a new PIN code
// replaces the stored one. A success also arms the daily renewal (pin_renewal.h).

#include <string>

class CRelayServer;

// True when the console holds a current registration afterwards.
bool SyncPinCode(CRelayServer& relay, const std::string& hardwareAddress);
bool SyncPinCode(const std::string& hardwareAddress);

// Tells the console the PIN mode changed; the answer is not examined. Does nothing
// without a stored "PINCode".
void ReportPinMode(CRelayServer& relay, bool pinModeOn);
