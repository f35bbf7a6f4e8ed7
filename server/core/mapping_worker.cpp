#include "core/mapping_worker.h"

#include "config/settings.h"
#include "config/trace.h"
#include "config/app_messages.h"
#include "remote/pin_sync.h"
#include "remote/relay_server.h"

#include <cstdlib>

namespace {

int PortSetting(const char* key)
{
    std::string text = GetSettingString(key);
    char* end = nullptr;
    long port = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || port < 1 || port > 65535)
        return 0;
    return static_cast<int>(port);
}

void WriteExternalPort(int port)
{
    SetSettingString("", kSettingSection, "ExtPort", std::to_string(port));
}

bool SyncPin(const MappingRequest& request, NetworkSeams seams)
{
    if (!request.pinModeOn)
        return true;
    CRelayServer relay(seams.transport);
    return SyncPinCode(relay, GetSettingString("MACA"));
}

// The first of up to ten external ports from internalPort that is, or can be, mapped.
int TakeExternalPort(IPortMapper& mapper, const std::string& localAddress, int internalPort)
{
    for (int k = 0; k < kMaxExternalPortCandidates && internalPort + k <= 65535; ++k) {
        int candidate = internalPort + k;
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

void MapOn(const MappingRequest& request, NetworkSeams seams, int internalPort, int externalPort,
    MappingOutcome& outcome)
{
    if (request.removeFirst)
        outcome.removed = RemovePortMap(seams.mapper, externalPort);
    std::string localAddress = GetSettingString("InIP");
    int taken = TakeExternalPort(seams.mapper, localAddress, internalPort);
    if (taken == 0) {
        TraceMessage(kTraceWebFailure, "Port mapping - no gateway took port %d (%d)", internalPort,
            seams.mapper.LastError());
        outcome.mappingOn = false;
        outcome.serverError = kServerErrorNoUpnpDevice;
        return;
    }
    outcome.mappingOn = true;
    outcome.externalPort = taken;
    if (taken != externalPort) {
        WriteExternalPort(taken);
        outcome.pinSynced = SyncPin(request, seams);
    }
    bool reached = ProbeExternalAccess(
        seams.transport, "http://" + outcome.externalAddress, "convertCancel", taken, 0);
    if (!reached)
        outcome.serverError = kServerErrorNoExternalAccess;
}

void MapOff(const MappingRequest& request, NetworkSeams seams, int internalPort, int externalPort,
    MappingOutcome& outcome)
{
    outcome.removed = RemovePortMap(seams.mapper, externalPort);
    outcome.mappingOn = false;
    outcome.externalPort = internalPort;
    if (internalPort != externalPort) {
        WriteExternalPort(internalPort);
        outcome.pinSynced = SyncPin(request, seams);
    }
}

} // namespace

NetworkSeams DefaultNetworkSeams()
{
    return NetworkSeams { DefaultPortMapper(), DefaultHttpTransport() };
}

MappingOutcome RunMappingWorker(const MappingRequest& request, NetworkSeams seams)
{
    MappingOutcome outcome;
    outcome.mappingOn = request.mappingOn;
    int internalPort = PortSetting("InPort");
    int externalPort = PortSetting("ExtPort");
    if (internalPort == 0 || externalPort == 0)
        return outcome;
    outcome.externalAddress = GetSettingString("ExtIP");
    if (request.mappingOn)
        MapOn(request, seams, internalPort, externalPort, outcome);
    else
        MapOff(request, seams, internalPort, externalPort, outcome);
    return outcome;
}

void PostMappingOutcome(const MappingOutcome& outcome)
{
    if (outcome.serverError == kServerErrorNoUpnpDevice)
        veneta::CPXFrameMSG::Post(veneta::kFrameMainWindow, WM_APP_SERVER_ERROR,
            static_cast<veneta::WParam>(outcome.serverError), 0);
    else if (outcome.serverError == kServerErrorNoExternalAccess)
        veneta::CPXFrameMSG::Post(kFrameSettingsDialog, WM_APP_SERVER_ERROR,
            static_cast<veneta::WParam>(outcome.serverError), 0);
}
