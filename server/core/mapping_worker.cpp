#include "core/mapping_worker.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/trace.h"
#include "core/server_errors.h"
#include "http/https_port.h"
#include "remote/pin_sync.h"
#include "remote/relay_server.h"
#include "remote/remote_context.h"

#include <cstdlib>

namespace {

struct MappingWork {
    const MappingRequest& request;
    RemoteContext& server;
    const CancelFlag* cancel;
};

int PortSetting(SettingsStore& settings, const char* key)
{
    std::string text = settings.ReadText(key);
    char* end = nullptr;
    long port = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || port < 1 || port > 65535)
        return 0;
    return static_cast<int>(port);
}

void WriteExternalPort(SettingsStore& settings, int port)
{
    settings.WriteText(kKeyExtPort, std::to_string(port));
}

bool SyncPin(const MappingWork& work)
{
    if (!work.request.pinModeOn)
        return true;
    return work.server.SyncPin(work.server.Settings().ReadText(kKeyMacAddress), work.cancel);
}

// The first of up to ten external ports from internalPort that is, or can be, mapped;
// never taken (the other port of this server's).
int TakeExternalPort(
    IPortMapper& mapper, const std::string& localAddress, int internalPort, int taken = 0)
{
    for (int k = 0; k < kMaxExternalPortCandidates && internalPort + k <= 65535; ++k) {
        int candidate = internalPort + k;
        if (candidate == taken)
            continue;
        if (IsPortMappedToMe(mapper, localAddress, internalPort, candidate)
            || MapPort(mapper, localAddress, candidate, internalPort))
            return candidate;
        // Without a usable gateway another port fares no better; only a refusal of this
        // port (a UPnP error code) is worth the next candidate.
        if (mapper.LastError() <= 0)
            return 0;
    }
    return 0;
}

// The HTTPS port beside the plain one: browsers from outside reach it as well.
void MapHttpsOn(const MappingWork& work, MappingOutcome& outcome)
{
    SettingsStore& settings = work.server.Settings();
    int httpsPort = PortSetting(settings, kKeyTlsPort);
    if (httpsPort == 0)
        return;
    outcome.httpsOn = true;
    int taken = TakeExternalPort(
        work.server.Gateway(), settings.ReadText(kKeyInIP), httpsPort, outcome.externalPort);
    outcome.httpsExternalPort = taken;
    settings.WriteText(kKeyTlsExtPort, taken ? std::to_string(taken) : std::string());
}

bool RemoveHttpsMapping(const MappingWork& work)
{
    int external = PortSetting(work.server.Settings(), kKeyTlsExtPort);
    if (external == 0)
        return true;
    work.server.Settings().WriteText(kKeyTlsExtPort, "");
    return RemovePortMap(work.server.Gateway(), external);
}

void MapOn(const MappingWork& work, int internalPort, int externalPort, MappingOutcome& outcome)
{
    IPortMapper& mapper = work.server.Gateway();
    if (work.request.removeFirst) {
        outcome.removed = RemovePortMap(mapper, externalPort);
        outcome.removed = RemoveHttpsMapping(work) && outcome.removed;
    }
    std::string localAddress = work.server.Settings().ReadText(kKeyInIP);
    int taken = TakeExternalPort(mapper, localAddress, internalPort);
    if (taken == 0) {
        TraceMessage(kTraceWebFailure, "Port mapping - no gateway took port %d (%d)", internalPort,
            mapper.LastError());
        outcome.mappingOn = false;
        outcome.serverError = kServerErrorNoUpnpDevice;
        return;
    }
    outcome.mappingOn = true;
    outcome.externalPort = taken;
    if (taken != externalPort) {
        WriteExternalPort(work.server.Settings(), taken);
        outcome.pinSynced = SyncPin(work);
    }
    MapHttpsOn(work, outcome);
    bool reached = ProbeExternalAccess(work.server.ConsoleTransport(),
        "http://" + outcome.externalAddress, "convertCancel", taken, 0, work.cancel);
    if (!reached)
        outcome.serverError = kServerErrorNoExternalAccess;
}

void MapOff(const MappingWork& work, int internalPort, int externalPort, MappingOutcome& outcome)
{
    outcome.removed = RemovePortMap(work.server.Gateway(), externalPort);
    outcome.removed = RemoveHttpsMapping(work) && outcome.removed;
    outcome.mappingOn = false;
    outcome.externalPort = internalPort;
    if (internalPort != externalPort) {
        WriteExternalPort(work.server.Settings(), internalPort);
        outcome.pinSynced = SyncPin(work);
    }
}

} // namespace

MappingOutcome RunMappingWorker(
    const MappingRequest& request, RemoteContext& server, const CancelFlag* cancel)
{
    MappingWork work { request, server, cancel };
    MappingOutcome outcome;
    outcome.mappingOn = request.mappingOn;
    int internalPort = PortSetting(server.Settings(), kKeyInPort);
    int externalPort = PortSetting(server.Settings(), kKeyExtPort);
    if (internalPort == 0 || externalPort == 0)
        return outcome;
    outcome.externalAddress = server.Settings().ReadText(kKeyExtIP);
    if (request.mappingOn)
        MapOn(work, internalPort, externalPort, outcome);
    else
        MapOff(work, internalPort, externalPort, outcome);
    return outcome;
}
