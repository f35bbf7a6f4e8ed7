#include "remote/network_identity.h"

#include "config/trace.h"
#include "remote/relay_server.h"
#include "vembacastupnp.h"

namespace {

class CUpnpPortMapper : public IPortMapper {
public:
    bool GetMapping(int externalPort, GatewayMapping& mapping) override
    {
        char externalIp[16] = {};
        char client[16] = {};
        char description[80] = {};
        int internalPort = 0;
        int enabled = 0;
        int found = Vemba_GetPortMapInfo(externalPort, 1, externalIp, sizeof(externalIp), client,
            sizeof(client), &internalPort, &enabled, description, sizeof(description),
            kMappingWaitMs);
        mapping = GatewayMapping { externalIp, client, internalPort, enabled, description };
        return found == 1;
    }
    bool AddMapping(const std::string& client, int externalPort, int internalPort) override
    {
        return Vemba_SetPortMapInfo(externalPort, 1, client.c_str(), internalPort, 1,
                   kMappingDescription, kMappingWaitMs)
            == 1;
    }
    bool RemoveMapping(int externalPort) override
    {
        return Vemba_RemovePortMapInfo(externalPort, 1, kMappingWaitMs) == 1;
    }
    int LastError() override { return Vemba_GetLastError(); }
};

} // namespace

std::shared_ptr<IPortMapper> MakeUpnpPortMapper()
{
    return std::make_shared<CUpnpPortMapper>();
}

bool IsPortMappedToMe(
    IPortMapper& mapper, const std::string& localAddress, int internalPort, int externalPort)
{
    GatewayMapping mapping;
    return mapper.GetMapping(externalPort, mapping) && mapping.internalClient == localAddress
        && mapping.internalPort == internalPort;
}

bool MapPort(
    IPortMapper& mapper, const std::string& localAddress, int externalPort, int internalPort)
{
    return mapper.AddMapping(localAddress, externalPort, internalPort);
}

bool RemovePortMap(IPortMapper& mapper, int externalPort)
{
    if (mapper.RemoveMapping(externalPort))
        return true;
    TraceMessage(kTraceWebFailure, "Port mapping - removing external port %d failed (%d)",
        externalPort, mapper.LastError());
    return false;
}

std::string GatewayExternalAddress(IPortMapper& mapper)
{
    GatewayMapping mapping;
    mapper.GetMapping(1, mapping);
    return mapping.externalAddress;
}

bool ProbeExternalAccess(IHttpTransport& transport, const std::string& base,
    const std::string& page, int port, int method, const CancelFlag* cancel)
{
    std::string url = base;
    if (!url.empty() && url.back() != '/' && url.back() != '\\')
        url += '/';
    HttpTarget target;
    if (!SplitHttpUrl(url + page, target) || port < 1 || port > 65535)
        return false;
    target.port = port;
    TransportResult result = transport.Exchange(target, "", method == kFormPost, cancel);
    return result.failure == TransportFailure::None
        || (result.failure != TransportFailure::Connect && result.status != 0);
}
