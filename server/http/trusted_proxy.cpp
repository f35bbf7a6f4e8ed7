#include "http/trusted_proxy.h"

#include "config/utf8_text.h"
#include "http/allowed_hosts.h"

#include <arpa/inet.h>
#include <array>
#include <cstring>

namespace {

// The address as 16 bytes, IPv4 in its IPv6-mapped form; a zone index is dropped.
std::optional<std::array<uint8_t, 16>> AddressBytes(std::string_view text)
{
    std::string address(text.substr(0, text.find('%')));
    std::array<uint8_t, 16> bytes {};
    uint8_t v4[4];
    if (inet_pton(AF_INET, address.c_str(), v4) == 1) {
        bytes[10] = 0xFF;
        bytes[11] = 0xFF;
        std::memcpy(bytes.data() + 12, v4, 4);
        return bytes;
    }
    if (inet_pton(AF_INET6, address.c_str(), bytes.data()) == 1)
        return bytes;
    return std::nullopt;
}

bool IsIpv4Text(std::string_view text)
{
    uint8_t v4[4];
    return inet_pton(AF_INET, std::string(text).c_str(), v4) == 1;
}

std::vector<std::string_view> SplitList(std::string_view text, std::string_view separators)
{
    std::vector<std::string_view> items;
    while (!text.empty()) {
        size_t end = text.find_first_of(separators);
        std::string_view item = TrimBlanks(text.substr(0, end));
        if (!item.empty())
            items.push_back(item);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return items;
}

// An X-Forwarded-For entry without the port a proxy may add ("1.2.3.4:5", "[::1]:5").
std::string_view StripPort(std::string_view entry)
{
    if (entry.starts_with('[')) {
        size_t close = entry.find(']');
        return close == std::string_view::npos ? entry : entry.substr(1, close - 1);
    }
    size_t colon = entry.find(':');
    if (colon != std::string_view::npos && entry.find(':', colon + 1) == std::string_view::npos
        && IsIpv4Text(entry.substr(0, colon)))
        return entry.substr(0, colon);
    return entry;
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return lower;
}

} // namespace

bool IsIpAddress(std::string_view text)
{
    return AddressBytes(text).has_value();
}

TrustedProxies TrustedProxies::Parse(std::string_view text, std::vector<std::string>* rejected)
{
    TrustedProxies proxies;
    for (std::string_view entry : SplitList(text, " \t,;")) {
        size_t slash = entry.find('/');
        std::string_view address = entry.substr(0, slash);
        std::optional<std::array<uint8_t, 16>> bytes = AddressBytes(address);
        int prefix = 128;
        bool ok = bytes.has_value();
        if (ok && slash != std::string_view::npos) {
            std::string_view bits = entry.substr(slash + 1);
            int limit = IsIpv4Text(address) ? 32 : 128;
            int value = 0;
            ok = !bits.empty() && bits.size() <= 3;
            for (char c : bits) {
                ok = ok && c >= '0' && c <= '9';
                value = value * 10 + (c - '0');
            }
            ok = ok && value <= limit;
            prefix = ok ? value + (128 - limit) : 0;
        }
        if (!ok) {
            if (rejected)
                rejected->emplace_back(entry);
            continue;
        }
        Network network {};
        std::memcpy(network.bytes, bytes->data(), 16);
        network.prefix = prefix;
        proxies.m_networks.push_back(network);
    }
    return proxies;
}

bool TrustedProxies::Trusts(std::string_view address) const
{
    std::optional<std::array<uint8_t, 16>> bytes = AddressBytes(address);
    if (!bytes)
        return false;
    for (const Network& network : m_networks) {
        int whole = network.prefix / 8;
        int rest = network.prefix % 8;
        if (std::memcmp(network.bytes, bytes->data(), static_cast<size_t>(whole)) != 0)
            continue;
        uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
        if (rest == 0 || ((network.bytes[whole] ^ (*bytes)[whole]) & mask) == 0)
            return true;
    }
    return false;
}

std::optional<std::string> ForwardedClient(
    const TrustedProxies& proxies, std::string_view forwardedFor)
{
    std::vector<std::string_view> entries = SplitList(forwardedFor, ",");
    if (entries.empty())
        return std::nullopt;
    for (size_t i = entries.size(); i-- > 0;) {
        std::string_view address = StripPort(entries[i]);
        if (!IsIpAddress(address))
            return std::nullopt;
        if (i == 0 || !proxies.Trusts(address))
            return std::string(address);
    }
    return std::nullopt;
}

ClientView SeeClient(const TrustedProxies& proxies, std::string_view peerAddress, bool secure,
    const HeaderLookup& header)
{
    ClientView view;
    view.address = std::string(peerAddress);
    view.secure = secure;
    view.host = header("Host").value_or(std::string());
    if (!proxies.Trusts(peerAddress))
        return view;
    view.viaTrustedProxy = true;
    if (std::optional<std::string> forwardedFor = header("X-Forwarded-For")) {
        std::optional<std::string> client = ForwardedClient(proxies, *forwardedFor);
        if (!client) {
            view.fault = "X-Forwarded-For holds no client address";
            return view;
        }
        view.address = *client;
    }
    if (std::optional<std::string> proto = header("X-Forwarded-Proto")) {
        std::vector<std::string_view> schemes = SplitList(*proto, ",");
        std::string scheme = schemes.empty() ? std::string() : Lower(schemes.front());
        if (scheme != "http" && scheme != "https") {
            view.fault = "X-Forwarded-Proto is neither http nor https";
            return view;
        }
        view.secure = scheme == "https";
    }
    if (std::optional<std::string> host = header("X-Forwarded-Host")) {
        std::vector<std::string_view> hosts = SplitList(*host, ",");
        if (hosts.empty() || !HostValueName(hosts.front())) {
            view.fault = "X-Forwarded-Host is not a host name";
            return view;
        }
        view.host = std::string(hosts.front());
        view.forwardedHost = true;
    }
    return view;
}
