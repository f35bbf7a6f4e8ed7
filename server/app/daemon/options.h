#pragma once

// The daemon's command line. Everything is checked before anything is written, so a
// malformed option leaves every file as it was.

#include "config/settings.h"

#include <optional>
#include <string>
#include <vector>

struct DaemonOptions {
    std::string dataDir; // empty: the usual data folder
    std::optional<int> port;
    std::vector<FolderListEntry> shares;
    std::optional<std::string> password;
    bool requirePassword = false; // --require-password: the server checks the password
    std::optional<bool> portMapping; // --port-mapping on|off
    std::optional<bool> pinMode; // --pin on|off
    std::optional<bool> dlnaServer; // --dlna on|off: the television device (kept)
    std::optional<std::string> adapter; // an interface name or its address
    std::optional<std::string> console; // the console's root address, "" for the embedded
    bool help = false;

    // Shares, a port or a password make the daemon write the settings as the settings
    // dialog would.
    bool WritesSettings() const { return port || !shares.empty() || password || requirePassword; }
};

// False with a one-line reason in error for a malformed command line.
bool ParseDaemonOptions(int argc, char** argv, DaemonOptions& options, std::string& error);

// The --help text.
const char* DaemonUsage();
