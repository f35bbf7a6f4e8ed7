#pragma once

// The daemon's network steps at every start, after the options are written and the
// defaults filled: the switches the options turned (port mapping, PIN code, adapter),
// the update check and the start-up check, each reported in one line on standard
// output. The daemon has no dialog to send the user to, so on a changed network it
// refills the network settings and redoes the mapping and the PIN registration that
// are switched on; it never turns them off by itself.
//
// The steps talk to the console and the gateway, which may answer late or never, so
// they run on a thread of their own once the server is serving: neither the start nor
// a stop waits for them. They begin once the external address the server asked the
// console for at its start has come (or not), since the mapping reports and probes
// it. Stop cancels the console request under way and joins.

#include "core/vemba_server.h"
#include "options.h"

#include <functional>
#include <thread>

// The values the options are about to replace, read before they are written.
struct NetworkBefore {
    bool portMapping = false;
    bool pinMode = false;
    std::string address; // "InIP"
    std::string port; // "InPort"
};

NetworkBefore ReadNetworkBefore(SettingsStore& settings);

// Writes the network options; false with error set when the adapter is unknown.
bool WriteNetworkOptions(SettingsStore& settings, const DaemonOptions& options, std::string& error);

class CNetworkStart {
public:
    // refillDefaults fills the emptied network settings again (the controller's
    // defaults).
    CNetworkStart(DaemonOptions options, NetworkBefore before, CVembaServer& server,
        std::function<void()> refillDefaults);
    ~CNetworkStart(); // Stop
    CNetworkStart(const CNetworkStart&) = delete;
    CNetworkStart& operator=(const CNetworkStart&) = delete;

    void Start();
    // Cancels the console request under way (the server's request of the external
    // address too) and joins the steps' thread.
    void Stop();

private:
    void Run();
    // False when the steps were stopped meanwhile.
    bool WaitForExternalAddress();
    void RunMapping(bool on, bool removeFirst);
    void RunPinSync();
    void RunUpdate();
    void RunStartupCheck();

    const DaemonOptions m_options;
    const NetworkBefore m_before;
    CVembaServer& m_server;
    const std::function<void()> m_refillDefaults;
    CancelFlag m_cancel { false };
    std::thread m_thread; // started and joined by the daemon's main thread
};
