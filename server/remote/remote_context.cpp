#include "remote/remote_context.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/trace.h"
#include "remote/pin_sync.h"

namespace {

RemoteParts Completed(RemoteParts parts)
{
    if (!parts.consoleTransport)
        parts.consoleTransport = MakeConsoleTransport();
    if (!parts.gateway)
        parts.gateway = MakeUpnpPortMapper();
    return parts;
}

std::string RegistryFileOf(const ServerPlaces& places)
{
    return places.dataFolder.empty() ? std::string() : places.dataFolder + "/console.sqlite";
}

} // namespace

RemoteContext::RemoteContext(ServerParts parts, RemoteParts remote, ConvertQueueTiming timing)
    : ConversionContext(std::move(parts), timing)
    , m_remote(Completed(std::move(remote)))
    , m_embeddedConsole(Settings(), m_remote.gateway, RegistryFileOf(Places()))
    , m_externalAddress([this](const CancelFlag& cancel) {
        CRelayServer relay = Relay(&cancel);
        return RefreshExternalIp(Settings(), relay);
    })
{
}

RemoteContext::~RemoteContext()
{
    StopNotices();
    m_externalAddress.Stop();
    std::unique_ptr<CPinRenewal> renewal;
    {
        std::lock_guard lock(m_renewalLock);
        renewal = std::move(m_pinRenewal);
    }
    m_renewalCancel = true; // a renewal under way ends its console request
    renewal.reset(); // joins its thread
    m_embeddedConsole.Stop();
}

bool RemoteContext::SyncPin(const std::string& hardwareAddress, const CancelFlag* cancel)
{
    CRelayServer relay = Relay(cancel);
    if (!SyncPinCode(Settings(), relay, hardwareAddress))
        return false;
    std::lock_guard lock(m_renewalLock);
    if (!m_pinRenewal && !m_renewalCancel)
        m_pinRenewal = std::make_unique<CPinRenewal>([this] { RenewPin(); }, m_renewalPeriod);
    return true;
}

void RemoteContext::SetPinRenewalPeriod(std::chrono::milliseconds period)
{
    std::lock_guard lock(m_renewalLock);
    m_renewalPeriod = period;
}

void RemoteContext::RenewPin()
{
    std::shared_ptr<const SettingsSnapshot> settings = Settings().Current();
    if (settings->Int(kKeyPINCodeMode, 0) == 0 || settings->Text(kKeyPINCode).empty())
        return;
    CRelayServer relay = Relay(&m_renewalCancel);
    bool renewed = SyncPinCode(Settings(), relay, settings->Text(kKeyMacAddress));
    TraceMessage(kTraceProgress, "PIN renewal - %s", renewed ? "renewed" : "failed");
}

CRelayServer RemoteContext::Relay(const CancelFlag* cancel)
{
    return CRelayServer(Settings(), ConsoleTransport(), BuiltInConsoleRoot(), cancel);
}
