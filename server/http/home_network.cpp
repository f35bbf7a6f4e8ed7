#include "http/home_network.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

bool IsHomeIpv4(const uint8_t (&a)[4])
{
    return a[0] == 127 || a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16)
        || (a[0] == 192 && a[1] == 168) || (a[0] == 169 && a[1] == 254);
}

bool IsHomeIpv6(const uint8_t (&a)[16])
{
    static constexpr uint8_t kLoopback[16] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 };
    static constexpr uint8_t kMappedPrefix[12] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF };
    if (std::memcmp(a, kLoopback, sizeof kLoopback) == 0)
        return true;
    if (std::memcmp(a, kMappedPrefix, sizeof kMappedPrefix) == 0) {
        const uint8_t v4[4] = { a[12], a[13], a[14], a[15] };
        return IsHomeIpv4(v4);
    }
    bool uniqueLocal = (a[0] & 0xFE) == 0xFC;
    bool linkLocal = a[0] == 0xFE && (a[1] & 0xC0) == 0x80;
    return uniqueLocal || linkLocal;
}

} // namespace

bool IsHomeNetworkAddress(std::string_view address)
{
    // A zone index ("fe80::1%eth0") names the interface, not the address.
    std::string text(address.substr(0, address.find('%')));
    uint8_t v4[4];
    if (inet_pton(AF_INET, text.c_str(), v4) == 1)
        return IsHomeIpv4(v4);
    uint8_t v6[16];
    if (inet_pton(AF_INET6, text.c_str(), v6) == 1)
        return IsHomeIpv6(v6);
    return false;
}
