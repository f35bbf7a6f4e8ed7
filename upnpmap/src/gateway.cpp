#include "gateway.h"

#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

namespace vembaupnp {

namespace {

    constexpr int kDefaultDiscoveryMs = 2000;

    // Frees the device list whatever way the preparation leaves.
    class DeviceList {
    public:
        explicit DeviceList(UPNPDev* first)
            : m_first(first)
        {
        }
        ~DeviceList()
        {
            if (m_first)
                freeUPNPDevlist(m_first);
        }
        DeviceList(const DeviceList&) = delete;
        DeviceList& operator=(const DeviceList&) = delete;
        UPNPDev* first() const { return m_first; }

    private:
        UPNPDev* m_first;
    };

} // namespace

Gateway::~Gateway()
{
    if (m_haveUrls)
        FreeUPNPUrls(&m_urls);
}

int Gateway::Prepare(int timeoutMs)
{
    int delay = timeoutMs == -1 ? kDefaultDiscoveryMs : timeoutMs;
    if (delay < 0)
        return kInvalidArguments;
    int discoveryError = 0;
    DeviceList devices(
        upnpDiscover(delay, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &discoveryError));
    if (!devices.first())
        return kNoDevice;

    char lanAddress[64] = {};
    int selected
        = UPNP_GetValidIGD(devices.first(), &m_urls, &m_data, lanAddress, sizeof(lanAddress));
    // UPNP_GetValidIGD fills the URL record for every device it looked at, even when it
    // reports none valid, so the record is owned from here on.
    m_haveUrls = selected != 0;
    if (selected == 2)
        return kNotConnected;
    if (selected != 1)
        return kNoGateway;

    char external[40] = {};
    if (UPNP_GetExternalIPAddress(ControlUrl(), ServiceType(), external) != UPNPCOMMAND_SUCCESS
        || external[0] == '\0')
        return kNoExternalAddress;
    m_externalAddress = external;
    return kNoError;
}

int CommandError(int result)
{
    switch (result) {
    case UPNPCOMMAND_SUCCESS:
        return kNoError;
    case UPNPCOMMAND_INVALID_ARGS:
        return kInvalidArguments;
    case UPNPCOMMAND_HTTP_ERROR:
        return kNoHttpAnswer;
    case UPNPCOMMAND_UNKNOWN_ERROR:
    case UPNPCOMMAND_INVALID_RESPONSE:
    case UPNPCOMMAND_MEM_ALLOC_ERROR:
        // Today's miniupnpc tells an unreadable answer and a failed allocation apart;
        // both are the one "unreadable answer" code callers know.
        return kUnreadableAnswer;
    default:
        return result > 0 ? result : kUnreadableAnswer;
    }
}

} // namespace vembaupnp
