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
    bool help = false;

    // Shares, a port or a password make the daemon write the settings as the settings
    // dialog would.
    bool WritesSettings() const { return port || !shares.empty() || password || requirePassword; }
};

// False with a one-line reason in error for a malformed command line.
bool ParseDaemonOptions(int argc, char** argv, DaemonOptions& options, std::string& error);

// The --help text.
const char* DaemonUsage();
