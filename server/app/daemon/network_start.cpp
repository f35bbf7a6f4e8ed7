#include "network_start.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/trace.h"
#include "core/mapping_worker.h"
#include "core/server_errors.h"
#include "core/startup_checks.h"
#include "daemon_log.h"
#include "platform/adapters.h"
#include "remote/pin_sync.h"
#include "remote/relay_server.h"

namespace {

bool Switch(SettingsStore& settings, const char* key)
{
    return settings.ReadInt(key, 0) != 0;
}

void Say(const std::string& line)
{
    DaemonLog(LogLevel::Notice, "%s", line.c_str());
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
    if (outcome.httpsOn)
        Say(outcome.httpsExternalPort
                ? "HTTPS port mapping: external port " + std::to_string(outcome.httpsExternalPort)
                : std::string("HTTPS port mapping failed: the gateway took no port for it"));
    if (outcome.serverError == kServerErrorNoExternalAccess)
        Say("the external address cannot be reached from inside the home network (code 8)");
}

// The network settings the desktop application clears on a changed network; the
// listening port and the PIN code stay (the port is checked again, the code updated).
void ClearNetworkSettings(SettingsStore& settings)
{
    settings.WriteTexts(
        { { kKeyInIP, "" }, { kKeyExtIP, "" }, { kKeyExtPort, "" }, { kKeyMacAddress, "" } });
}

} // namespace

NetworkBefore ReadNetworkBefore(SettingsStore& settings)
{
    return NetworkBefore { Switch(settings, kKeyAutoPortMapMode), Switch(settings, kKeyPINCodeMode),
        settings.ReadText(kKeyInIP), settings.ReadText(kKeyInPort) };
}

bool WriteNetworkOptions(SettingsStore& settings, const DaemonOptions& options, std::string& error)
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
        settings.WriteTexts(
            { { kKeyInIP, chosen->address }, { kKeyMacAddress, chosen->hardwareAddress } });
    }
    if (options.portMapping)
        settings.WriteInt(kKeyAutoPortMapMode, *options.portMapping ? 1 : 0);
    // The server does not start in PIN mode without a PIN code, and a first code is
    // registered only after the start (CNetworkStart): the mode is stored with it.
    if (options.pinMode && !(*options.pinMode && settings.ReadText(kKeyPINCode).empty()))
        settings.WriteInt(kKeyPINCodeMode, *options.pinMode ? 1 : 0);
    if (options.console)
        settings.WriteText(kKeyTestServerURL, *options.console);
    return true;
}

CNetworkStart::CNetworkStart(DaemonOptions options, NetworkBefore before, CVembaServer& server,
    std::function<void()> refillDefaults)
    : m_options(std::move(options))
    , m_before(std::move(before))
    , m_server(server)
    , m_refillDefaults(std::move(refillDefaults))
{
}

CNetworkStart::~CNetworkStart()
{
    Stop();
}

void CNetworkStart::Start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
}

void CNetworkStart::Stop()
{
    m_cancel = true;
    // The steps may be waiting for the server's own request of the external address.
    m_server.ExternalAddress().Stop();
    if (m_thread.joinable())
        m_thread.join();
}

bool CNetworkStart::WaitForExternalAddress()
{
    // The server asks the console for the external address in the background (at its
    // start, and when the defaults are filled anew); until the answer is stored the
    // setting holds the local address, which the mapping would report and probe.
    m_server.ExternalAddress().WaitIdle();
    return !m_cancel;
}

void CNetworkStart::RunMapping(bool on, bool removeFirst)
{
    MappingRequest request { on, removeFirst, Switch(m_server.Settings(), kKeyPINCodeMode) };
    ReportMapping(RunMappingWorker(request, m_server, &m_cancel));
}

void CNetworkStart::RunPinSync()
{
    SettingsStore& settings = m_server.Settings();
    if (m_server.SyncPin(settings.ReadText(kKeyMacAddress), &m_cancel)) {
        settings.WriteInt(kKeyPINCodeMode, 1); // a first code: --pin on is kept from now
        Say("PIN code " + settings.ReadText(kKeyPINCode) + " is registered at the console");
    } else {
        Say("PIN code registration at the console failed");
    }
}

void CNetworkStart::RunUpdate()
{
    CRelayServer relay = m_server.Relay(&m_cancel);
    UpdateCheck check = RunUpdateCheck(m_server.Settings(), relay, VEMBACAST_VERSION_TEXT);
    if (check.result == kUpdateAvailable)
        Say("version " + check.serverVersion + " is available (this is " + check.localVersion
            + "): " + check.downloadUrl);
    TraceMessage(kTraceProgress, "Update check - result %d", check.result);
}

void CNetworkStart::RunStartupCheck()
{
    SettingsStore& settings = m_server.Settings();
    CRelayServer relay = m_server.Relay(&m_cancel);
    std::string reason;
    int result = ::RunStartupCheck(
        settings, relay, m_server.Gateway(), m_server.WebServer().ListeningPort(), &reason);
    std::string line = "start-up check: " + std::string(StartupCheckText(result)) + " ("
        + std::to_string(result) + ")";
    Say(result == kStartupGood ? line : line + ": " + reason);
    if (result != kStartupNetworkChanged || m_cancel)
        return;
    ClearNetworkSettings(settings);
    if (m_refillDefaults)
        m_refillDefaults();
    if (!WaitForExternalAddress())
        return;
    // The running server writes URLs with the external port it loaded at its start.
    m_server.WebServer().ReloadExternalPort();
    Say("network settings refilled for this network");
    if (Switch(settings, kKeyAutoPortMapMode))
        RunMapping(true, false);
    if (Switch(settings, kKeyPINCodeMode))
        RunPinSync();
}

void CNetworkStart::Run()
{
    if (!WaitForExternalAddress())
        return;
    SettingsStore& settings = m_server.Settings();
    bool mapping = Switch(settings, kKeyAutoPortMapMode);
    bool adapterChanged = m_options.adapter && m_before.address != settings.ReadText(kKeyInIP);
    // A new port with mapping on: the router still forwards to the old one.
    bool portChanged = m_options.port && m_before.port != settings.ReadText(kKeyInPort);
    bool moved = adapterChanged || portChanged;
    if (mapping != m_before.portMapping || (mapping && moved))
        RunMapping(mapping, mapping && moved && m_before.portMapping);
    bool pin = Switch(settings, kKeyPINCodeMode) || m_options.pinMode.value_or(false);
    if (m_cancel)
        return;
    if (pin && (!m_before.pinMode || settings.ReadText(kKeyPINCode).empty())) {
        RunPinSync();
    } else if (!pin && m_before.pinMode) {
        CRelayServer relay = m_server.Relay(&m_cancel);
        ReportPinMode(settings, relay, false);
    }
    if (m_cancel)
        return;
    RunUpdate();
    if (m_cancel)
        return;
    RunStartupCheck();
}
