#pragma once

// The mapping worker behind the automatic port-mapping control (and an adapter
// change): with mapping on it maps the server's port on the gateway, trying up to ten
// external ports from the listening port upwards, keeps "ExtPort" and the PIN
// registration in step and probes the external address; with mapping off it removes
// the mapping and returns "ExtPort" to the listening port. With HTTPS on ("TlsPort"),
// its port is mapped and removed alongside, its external port kept in "TlsExtPort".
//
// Threads: it runs on the thread that calls it (the settings dialog starts one per
// click; the daemon runs it in the background after start) and blocks on the gateway
// and the console. Two workers at once would race on the settings: callers run one
// at a time.

#include "remote/http_transport.h"
#include "remote/network_identity.h"

#include <string>

struct MappingRequest {
    bool mappingOn = false;
    bool removeFirst = false; // the adapter changed: remove the old mapping first
    bool pinModeOn = false; // keep the PIN registration in step with "ExtPort"
};

struct MappingOutcome {
    // 0, or the WM_APP_SERVER_ERROR code: 7 (no gateway took the mapping; the control
    // is unchecked) or 8 (mapped, but the external address cannot be reached from here).
    int serverError = 0;
    bool mappingOn = false; // the control's state afterwards
    int externalPort = 0;
    std::string externalAddress;
    bool removed = true; // false when a removal the worker made was refused
    bool pinSynced = true; // false when the PIN registration failed
    // With HTTPS on: its external port, 0 when no gateway took it (or it was removed).
    int httpsExternalPort = 0;
    bool httpsOn = false;
};

class RemoteContext;

// The server's gateway and console transport; cancel, when given, ends a console
// request under way once it is set.
MappingOutcome RunMappingWorker(
    const MappingRequest& request, RemoteContext& server, const CancelFlag* cancel = nullptr);
