#include "network_start.h"

#include "config/settings.h"
#include "config/trace.h"
#include "config/app_messages.h"
#include "core/startup_checks.h"
#include "platform/adapters.h"
#include "remote/pin_sync.h"
#include "remote/relay_server.h"

#include <cstdio>

namespace {

bool Switch(const char* key)
{
    return GetSettingInt(kSettingSection, key, 0) != 0;
}

void Say(const std::string& line)
{
    std::printf("vembacastd: %s\n", line.c_str());
    std::fflush(stdout);
    TraceMessage(kTraceProgress, "vembacastd - %s", line.c_str());
}

void ReportMapping(const MappingOutcome& outcome)
{
    if (!outcome.removed)
        Say("removing the old port mapping failed: the gateway refused or did not answer");
    if (outcome.serverError == kServerErrorNoUpnpDevice) {
        Say("port mapping failed: no UPnP gateway took the port (code 7)");
        return;
    }
    if (!outcome.mappingOn) {
        Say(outcome.removed ? "port mapping removed" : "port mapping switched off");
        return;
    }
    Say("port mapping: external port " + std::to_string(outcome.externalPort) + " on "
        + outcome.externalAddress);
    if (outcome.serverError == kServerErrorNoExternalAccess)
        Say("the external address cannot be reached from inside the home network (code 8)");
}

void RunMapping(bool on, bool removeFirst, NetworkSeams seams)
{
    MappingRequest request { on, removeFirst, Switch("PINCodeMode") };
    ReportMapping(RunMappingWorker(request, seams));
}

void RunPinSync(NetworkSeams seams)
{
    CRelayServer relay(seams.transport);
    if (SyncPinCode(relay, GetSettingString("MACA")))
        Say("PIN code " + GetSettingString("PINCode") + " is registered at the console");
    else
        Say("PIN code registration at the console failed");
}

void RunUpdate(NetworkSeams seams)
{
    CRelayServer relay(seams.transport);
    UpdateCheck check = RunUpdateCheck(relay, VEMBACAST_VERSION_TEXT);
    if (check.result == kUpdateAvailable)
        Say("version " + check.serverVersion + " is available (this is " + check.localVersion
            + "): " + check.downloadUrl);
    TraceMessage(kTraceProgress, "Update check - result %d", check.result);
}

// The network settings the desktop application clears on a changed network; the
// listening port and the PIN code stay (the port is checked again, the code updated).
void ClearNetworkSettings()
{
    for (const char* key : { "InIP", "ExtIP", "ExtPort", "MACA" })
        SetSettingString("", kSettingSection, key, "");
}

} // namespace

NetworkBefore ReadNetworkBefore()
{
    return NetworkBefore { Switch("AutoPortMapMode"), Switch("PINCodeMode"),
        GetSettingString("InIP") };
}

bool WriteNetworkOptions(const DaemonOptions& options, std::string& error)
{
    if (options.adapter) {
        const Adapter* chosen = nullptr;
        std::vector<Adapter> adapters = ListAdapters();
        for (const Adapter& adapter : adapters) {
            if (adapter.description == *options.adapter || adapter.address == *options.adapter)
                chosen = &adapter;
        }
        if (!chosen) {
            error = "--adapter '" + *options.adapter + "' names no network interface that is up";
            return false;
        }
        SetSettingString("", kSettingSection, "InIP", chosen->address);
        SetSettingString("", kSettingSection, "MACA", chosen->hardwareAddress);
    }
    if (options.portMapping)
        SetSettingInt("AutoPortMapMode", *options.portMapping ? 1 : 0);
    if (options.pinMode)
        SetSettingInt("PINCodeMode", *options.pinMode ? 1 : 0);
    if (options.console)
        SetSettingString("", kSettingSection, "TestSeverURL", *options.console);
    return true;
}

void RunNetworkStart(const DaemonOptions& options, const NetworkBefore& before, NetworkSeams seams,
    const std::function<void()>& refillDefaults)
{
    bool mapping = Switch("AutoPortMapMode");
    bool adapterChanged = options.adapter && before.address != GetSettingString("InIP");
    if (mapping != before.portMapping || (mapping && adapterChanged))
        RunMapping(mapping, mapping && adapterChanged && before.portMapping, seams);
    bool pin = Switch("PINCodeMode");
    if (pin && (!before.pinMode || GetSettingString("PINCode").empty()))
        RunPinSync(seams);
    else if (!pin && before.pinMode) {
        CRelayServer relay(seams.transport);
        ReportPinMode(relay, false);
    }

    RunUpdate(seams);
    CRelayServer relay(seams.transport);
    std::string reason;
    int result = RunStartupCheck(relay, seams.mapper, &reason);
    std::string line = "start-up check: " + std::string(StartupCheckText(result)) + " ("
        + std::to_string(result) + ")";
    Say(result == kStartupGood ? line : line + ": " + reason);
    if (result != kStartupNetworkChanged)
        return;
    ClearNetworkSettings();
    if (refillDefaults)
        refillDefaults();
    Say("network settings refilled for this network");
    if (Switch("AutoPortMapMode"))
        RunMapping(true, false, seams);
    if (Switch("PINCodeMode"))
        RunPinSync(seams);
}
