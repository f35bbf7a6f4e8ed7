#pragma once

// The gateway preparation every port-mapping call starts with: discover the UPnP
// devices, select a connected Internet gateway and read its external address. A
// Gateway owns miniupnpc's URL record and frees it when it goes.

#include <miniupnpc/miniupnpc.h>
#include <string>

namespace vembaupnp {

// The error codes the calls leave for Vemba_GetLastError.
enum ErrorCode : int {
    kNoError = 0,
    kUnreadableAnswer = -1,
    kInvalidArguments = -2,
    kNoHttpAnswer = -3,
    kNoDevice = -11,
    kNotConnected = -12,
    kNoExternalAddress = -14,
    kNoGateway = -15,
};

class Gateway {
public:
    Gateway() = default;
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // Discovers and selects the gateway; kNoError when it is ready for requests, else
    // the reason. timeoutMs -1 waits 2000 ms.
    int Prepare(int timeoutMs);

    const char* ControlUrl() const { return m_urls.controlURL; }
    const char* ServiceType() const { return m_data.first.servicetype; }
    const std::string& ExternalAddress() const { return m_externalAddress; }

private:
    UPNPUrls m_urls {};
    IGDdatas m_data {};
    bool m_haveUrls = false;
    std::string m_externalAddress;
};

// A miniupnpc command result as the last error: 0 stays 0, a UPnP error code stays,
// and miniupnpc's own failures become the library's codes.
int CommandError(int result);

} // namespace vembaupnp
