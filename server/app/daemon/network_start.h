#pragma once

// The daemon's network steps at every start, after the options are written and the
// defaults filled: the switches the options turned (port mapping, PIN code, adapter),
// the update check and the start-up check, each reported in one line on standard
// output. The daemon has no dialog to send the user to, so on a changed network it
// refills the network settings and redoes the mapping and the PIN registration that
// are switched on; it never turns them off by itself.

#include "core/mapping_worker.h"
#include "options.h"

#include <functional>

// The values the options are about to replace, read before they are written.
struct NetworkBefore {
    bool portMapping = false;
    bool pinMode = false;
    std::string address; // "InIP"
};

NetworkBefore ReadNetworkBefore();

// Writes the network options; false with error set when the adapter is unknown.
bool WriteNetworkOptions(const DaemonOptions& options, std::string& error);

// The switches, the update check and the start-up check. refillDefaults fills the
// emptied network settings again (the controller's defaults).
void RunNetworkStart(const DaemonOptions& options, const NetworkBefore& before, NetworkSeams seams,
    const std::function<void()>& refillDefaults);
