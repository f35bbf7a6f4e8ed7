#include "platform/adapters.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <map>
#include <net/if.h>
#include <netinet/in.h>

namespace {

// Owns the list getifaddrs hands out.
class InterfaceList {
public:
    InterfaceList()
    {
        if (getifaddrs(&m_first) != 0)
            m_first = nullptr;
    }
    ~InterfaceList()
    {
        if (m_first)
            freeifaddrs(m_first);
    }
    InterfaceList(const InterfaceList&) = delete;
    InterfaceList& operator=(const InterfaceList&) = delete;
    const ifaddrs* first() const { return m_first; }

private:
    ifaddrs* m_first = nullptr;
};

bool IsServingInterface(const ifaddrs* entry)
{
    return entry->ifa_name && (entry->ifa_flags & IFF_UP) && !(entry->ifa_flags & IFF_LOOPBACK);
}

} // namespace

std::string FormatHardwareAddress(const unsigned char* bytes, size_t length)
{
    if (!bytes || length < 6)
        return std::string();
    char text[18];
    std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2],
        bytes[3], bytes[4], bytes[5]);
    return text;
}

std::vector<Adapter> ListAdapters()
{
    InterfaceList list;
    std::map<std::string, std::string> hardware; // interface name -> address text
    for (const ifaddrs* entry = list.first(); entry; entry = entry->ifa_next) {
        if (!entry->ifa_name || !entry->ifa_addr || entry->ifa_addr->sa_family != AF_PACKET)
            continue;
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        hardware[entry->ifa_name] = FormatHardwareAddress(link->sll_addr, link->sll_halen);
    }
    std::vector<Adapter> adapters;
    for (const ifaddrs* entry = list.first(); entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !IsServingInterface(entry))
            continue;
        std::string name = entry->ifa_name;
        bool listed = false;
        for (const Adapter& adapter : adapters)
            listed = listed || adapter.description == name;
        if (listed)
            continue; // one entry per interface: its first address
        char address[INET_ADDRSTRLEN] = {};
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (!inet_ntop(AF_INET, &ipv4->sin_addr, address, sizeof(address)))
            continue;
        adapters.push_back({ address, name, hardware[name] });
    }
    return adapters;
}

bool ListAdapters(std::vector<std::string>& addresses, std::vector<std::string>& descriptions,
    std::vector<std::string>& hardwareAddresses)
{
    std::vector<Adapter> adapters = ListAdapters();
    for (const Adapter& adapter : adapters) {
        addresses.push_back(adapter.address);
        descriptions.push_back(adapter.description);
        hardwareAddresses.push_back(adapter.hardwareAddress);
    }
    return !adapters.empty();
}
