#pragma once

// What the main window and the settings dialog ask of remote access: the start-up and
// update checks, the PIN registration with the console and the router's port mapping.
// The windows only talk to this interface, so they run the same over the full remote
// access and over the local one below.

#include <functional>
#include <string>

// Start-up check results.
enum StartupCheckResult {
    kStartupGood = 0,
    kStartupNotSet = 1,
    kStartupNoConsole = 2,
    kStartupChanged = 3
};
// Update check results.
enum UpdateCheckResult { kUpdateNone = 0, kUpdateNoAnswer = 2, kUpdateAvailable = 4 };

struct UpdateOffer {
    int result = kUpdateNone;
    std::string localVersion;
    std::string serverVersion;
    std::string downloadLink;
};

enum class PortMapping { Add, Remove };

class IRemoteAccess {
public:
    virtual ~IRemoteAccess() = default;
    virtual int RunStartupCheck() = 0;
    virtual UpdateOffer RunUpdateCheck() = 0;
    // Registers (or refreshes) this server's PIN code for the adapter; false when refused.
    virtual bool SyncPinCode(const std::string& hardwareAddress) = 0;
    // Tells the console whether the PIN code is in use.
    virtual void UpdatePinCode(bool on) = 0;
    // Adds or removes the router's mapping of "ExtPort" to "InIP":"InPort" on a worker;
    // done gets 0 on success or the WM_APP_SERVER_ERROR code (7, 8), on any thread.
    virtual void StartPortMapping(PortMapping action, std::function<void(int code)> done) = 0;
};

// Remote access as far as this computer alone can answer: the start-up check reads
// whether the server was ever set up; there is no update offer, no PIN registration
// and no gateway to map a port on.
class CLocalRemoteAccess : public IRemoteAccess {
public:
    int RunStartupCheck() override;
    UpdateOffer RunUpdateCheck() override { return {}; }
    bool SyncPinCode(const std::string&) override { return false; }
    void UpdatePinCode(bool) override { }
    void StartPortMapping(PortMapping action, std::function<void(int code)> done) override;
};
