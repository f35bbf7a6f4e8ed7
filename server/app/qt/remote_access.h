#pragma once

// Remote access as the desktop windows use it: the update and start-up checks, the
// PIN registration at the console and the router's port mapping, all through the
// server's console transport and gateway.
//
// Threads: the checks and the PIN requests run on the caller's thread. The mapping
// worker runs on a thread of its own, one at a time (a new one waits for the last);
// it posts its error code (7 to the main window, 8 to the settings dialog) and hands
// its outcome to done, both from the worker thread. m_mappingLock guards the worker's
// thread object only and is never held while it is joined; m_cancel ends a console
// request of the worker under way when the windows go.

#include "core/mapping_worker.h"
#include "core/startup_checks.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>

class RemoteContext;

class CRemoteAccess {
public:
    explicit CRemoteAccess(RemoteContext& server);
    ~CRemoteAccess(); // cancels and waits for a running mapping worker
    CRemoteAccess(const CRemoteAccess&) = delete;
    CRemoteAccess& operator=(const CRemoteAccess&) = delete;

    RemoteContext& Server() { return m_server; }

    int RunStartupCheck();
    UpdateCheck RunUpdateCheck();
    // Registers (or refreshes) this server's PIN code for the adapter; false when refused.
    bool SyncPinCode(const std::string& hardwareAddress);
    // Tells the console whether the PIN code is in use; the answer is not examined.
    void UpdatePinCode(bool on);
    // Adds, removes or moves the router's mapping on the worker thread.
    void StartPortMapping(
        const MappingRequest& request, std::function<void(const MappingOutcome&)> done);

    // Waits for a running mapping worker (callers are on one thread, the GUI's).
    void WaitForMapping();

private:
    RemoteContext& m_server;
    CancelFlag m_cancel { false };
    std::mutex m_mappingLock;
    std::thread m_mapping; // guarded by m_mappingLock
};

// Posts the outcome's error as a window message: code 7 to the main window, code 8 to
// the settings dialog. Any thread.
void PostMappingOutcome(const MappingOutcome& outcome);
