#pragma once

// The server as its remote access sees it: the layer of the server object that owns
// the console transport, the UPnP gateway, the embedded console and the background
// request of the external address (see enginectl/engine_context.h for how the layers
// of the server object stack).

#include "conversion/conversion_context.h"
#include "remote/embedded_console.h"
#include "remote/external_ip.h"
#include "remote/http_transport.h"
#include "remote/network_identity.h"
#include "remote/pin_renewal.h"
#include "remote/relay_server.h"

#include <memory>
#include <mutex>

// The remote seams a server is made from; an empty one gets the real part.
struct RemoteParts {
    std::shared_ptr<IHttpTransport> consoleTransport; // libcurl to the console
    std::shared_ptr<IPortMapper> gateway; // the UPnP port-mapping library
};

class RemoteContext : public ConversionContext {
public:
    RemoteContext(ServerParts parts, RemoteParts remote, ConvertQueueTiming timing = {});
    ~RemoteContext() override;

    IHttpTransport& ConsoleTransport() { return *m_remote.consoleTransport; }
    IPortMapper& Gateway() { return *m_remote.gateway; }
    CEmbeddedConsole& EmbeddedConsole() { return m_embeddedConsole; }
    // The embedded console's root address while it runs, else empty.
    std::string BuiltInConsoleRoot() const { return m_embeddedConsole.Root(); }
    // A console client for one request or two; cancel ends its exchange under way.
    CRelayServer Relay(const CancelFlag* cancel = nullptr);
    ExternalAddressFetcher& ExternalAddress() { return m_externalAddress; }

    // Registers or updates the PIN code at the console (pin_sync.h); the first success
    // arms the daily renewal. cancel as for Relay.
    bool SyncPin(const std::string& hardwareAddress, const CancelFlag* cancel = nullptr);
    // The renewal's period; tests shorten it before the first SyncPin.
    void SetPinRenewalPeriod(std::chrono::milliseconds period);

private:
    void RenewPin();

    RemoteParts m_remote;
    CEmbeddedConsole m_embeddedConsole;
    CancelFlag m_renewalCancel { false };
    std::mutex m_renewalLock;
    // --- guarded by m_renewalLock
    std::chrono::milliseconds m_renewalPeriod { kPinRenewalPeriod };
    std::unique_ptr<CPinRenewal> m_pinRenewal;
    // ---
    ExternalAddressFetcher m_externalAddress; // last: stopped before the console goes
};
