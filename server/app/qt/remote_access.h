#pragma once

// Remote access as the desktop windows use it: the update and start-up checks, the
// PIN registration at the console and the router's port mapping, all over the
// network seams passed in (the gateway library and the console client).
//
// Threads: the checks and the PIN requests run on the caller's thread. The mapping
// worker runs on a thread of its own, one at a time (a new one waits for the last);
// it posts its error code (7 to the main window, 8 to the settings dialog) and hands
// its outcome to done, both from the worker thread.

#include "core/mapping_worker.h"
#include "core/startup_checks.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CRemoteAccess {
public:
    explicit CRemoteAccess(NetworkSeams seams);
    ~CRemoteAccess(); // waits for a running mapping worker
    CRemoteAccess(const CRemoteAccess&) = delete;
    CRemoteAccess& operator=(const CRemoteAccess&) = delete;

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
    NetworkSeams m_seams;
    std::mutex m_mappingLock;
    std::thread m_mapping; // guarded by m_mappingLock
};
