#include "remote/remote_context.h"

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
    , m_embeddedConsole(Settings(), *m_remote.gateway, RegistryFileOf(Places()))
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
    m_embeddedConsole.Stop();
}

CRelayServer RemoteContext::Relay(const CancelFlag* cancel)
{
    return CRelayServer(Settings(), ConsoleTransport(), BuiltInConsoleRoot(), cancel);
}
