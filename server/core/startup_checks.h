#pragma once

// The checks run at every program start: the update check asks the console for the
// newest version; the start-up check decides whether the stored network settings
// still describe this computer and its home network. They read and write only the
// settings and show nothing themselves.

#include "core/mapping_worker.h"

#include <string>

class CRelayServer;
class SettingsStore;

enum UpdateCheckResult : int {
    kUpdateNone = 0, // also when the console answered with an error
    kUpdateNoAnswer = 2,
    kUpdateAvailable = 4,
};

struct UpdateCheck {
    int result = kUpdateNone;
    std::string localVersion;
    std::string serverVersion;
    std::string downloadUrl;
};

enum StartupCheckResult : int {
    kStartupGood = 0,
    kStartupNeverSetUp = 1,
    kStartupConsoleUnreachable = 2,
    kStartupNetworkChanged = 3,
};

// Compares dotted versions part by part from the left (a missing part is 0):
// negative, 0 or positive as local is older, the same or newer than server.
int CompareVersions(const std::string& local, const std::string& server);

UpdateCheck RunUpdateCheck(
    SettingsStore& settings, CRelayServer& relay, const std::string& localVersion);

// ownPort: the port this server listens on already (0: none), which counts as free.
// reason (optional) receives the step that decided, for the trace and the daemon.
int RunStartupCheck(SettingsStore& settings, CRelayServer& relay, IPortMapper& mapper,
    int ownPort = 0, std::string* reason = nullptr);

// The trace and terminal text of a start-up check result.
const char* StartupCheckText(int result);
