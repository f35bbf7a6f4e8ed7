#pragma once

// Reading the external address from the console (server start and the settings
// defaults): on an answer that parses without an error message the address is
// written to "ExtIP" and the result is true; otherwise nothing changes.

class CRelayServer;

bool RefreshExternalIp();
bool RefreshExternalIp(CRelayServer& relay);
