#pragma once

// The standalone console's command line. Everything is checked before anything is
// opened, so a malformed option changes nothing.

#include <set>
#include <string>

struct ConsoleOptions {
    std::string address = "0.0.0.0";
    int port = 47080; // 0 picks a free port (it is printed)
    std::string database = "vembacast-console.sqlite";
    std::set<std::string> trustedProxies; // whose X-Forwarded-For is believed
    int maxFailedLookups = 10;
    int lookupWindowSeconds = 600;
    std::string latestVersion = VEMBACAST_VERSION_TEXT;
    std::string downloadUrl;
    bool help = false;
};

bool ParseConsoleOptions(int argc, char** argv, ConsoleOptions& options, std::string& error);
const char* ConsoleUsage();

// The address a request stands for: the peer's, or, when the peer is a trusted proxy
// and sent a well-formed X-Forwarded-For, the last address in it (the one that proxy
// added).
std::string RequesterAddress(const std::string& peer, const std::string& forwardedFor,
    const std::set<std::string>& trustedProxies);
