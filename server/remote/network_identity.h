#pragma once

// The server's network identity towards the router: the UPnP mapping of its port,
// read, made and removed through the port-mapping library, and the probe of its own
// external address. The gateway is a seam (IPortMapper) so the callers can be driven
// without the library; the real one calls the four Vemba_ functions.

#include "remote/http_transport.h"

#include <memory>
#include <string>

inline constexpr int kMappingWaitMs = 500;
inline constexpr const char* kMappingDescription = "VamboCast";
inline constexpr int kMaxExternalPortCandidates = 10;

struct GatewayMapping {
    std::string externalAddress; // the gateway's, filled whenever the gateway answered
    std::string internalClient;
    int internalPort = 0;
    int enabled = 0;
    std::string description;
};

class IPortMapper {
public:
    virtual ~IPortMapper() = default;
    // True when the gateway maps externalPort (TCP); mapping is filled as far as known.
    virtual bool GetMapping(int externalPort, GatewayMapping& mapping) = 0;
    virtual bool AddMapping(const std::string& client, int externalPort, int internalPort) = 0;
    virtual bool RemoveMapping(int externalPort) = 0;
    // The reason of this thread's last failure (the library's codes).
    virtual int LastError() = 0;
};

// The vembacastupnp library, TCP, 500 ms discovery, description "VamboCast".
std::shared_ptr<IPortMapper> MakeUpnpPortMapper();

// True when the gateway maps externalPort to localAddress:internalPort exactly.
bool IsPortMappedToMe(
    IPortMapper& mapper, const std::string& localAddress, int internalPort, int externalPort);
bool MapPort(
    IPortMapper& mapper, const std::string& localAddress, int externalPort, int internalPort);
// False (and traced) when the gateway refused or could not be reached.
bool RemovePortMap(IPortMapper& mapper, int externalPort);

// The gateway's external address; empty when no gateway answers.
std::string GatewayExternalAddress(IPortMapper& mapper);

// Whether an http request to base + page reaches anything at port (not the address's
// own port): true when a status line came back, whatever it said.
bool ProbeExternalAccess(IHttpTransport& transport, const std::string& base,
    const std::string& page, int port, int method, const CancelFlag* cancel = nullptr);
