#pragma once

// Requests that come through a reverse proxy. The socket shows the proxy's address, so
// the client's address, the scheme it used and the host it asked for travel in the
// headers X-Forwarded-For, X-Forwarded-Proto and X-Forwarded-Host. They are believed
// only when the peer is a proxy the owner named (setting "TrustedProxies", the
// daemon's --trust-proxy): from anyone else they are ignored, or any client could pose
// as the home network or as another address.
//
// Everything here is a plain value; a request's view of its client is made once, when
// the request arrives (dispatch.cpp), and read through HttpRequest.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kTrustedProxiesSetting = "TrustedProxies";

class TrustedProxies {
public:
    // Addresses ("127.0.0.1", "::1") or networks ("10.0.0.0/8", "fd00::/8") separated
    // by blanks, commas or semicolons. Entries that are neither go to rejected (when
    // given) and are ignored.
    static TrustedProxies Parse(
        std::string_view text, std::vector<std::string>* rejected = nullptr);

    bool Trusts(std::string_view address) const;
    bool Empty() const { return m_networks.empty(); }

private:
    struct Network {
        uint8_t bytes[16]; // IPv4 in its IPv6-mapped form
        int prefix; // bits, out of 128
    };
    std::vector<Network> m_networks;
};

// What a request tells about its client once the proxy rule is applied.
struct ClientView {
    std::string address; // the client's address: the peer's, or the forwarded one
    bool secure = false; // https: TLS here, or at a trusted proxy that says so
    std::string host; // the host asked for, as sent ("name:port"); empty when none
    bool viaTrustedProxy = false;
    bool forwardedHost = false; // host came from a trusted proxy's X-Forwarded-Host
    // Empty, or why a trusted proxy's forwarded headers cannot be used (the request is
    // refused then: guessing would hand the proxy's own address to a stranger).
    std::string fault;
};

using HeaderLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The view of a request whose socket peer is peerAddress, over TLS when secure.
ClientView SeeClient(const TrustedProxies& proxies, std::string_view peerAddress, bool secure,
    const HeaderLookup& header);

// The client of an X-Forwarded-For list: walking from the right (the entry the nearest
// proxy added), the first address that is not a trusted proxy; the leftmost when all
// are. Nothing when an entry on the way is not an address.
std::optional<std::string> ForwardedClient(
    const TrustedProxies& proxies, std::string_view forwardedFor);

// True when text is an IPv4 or IPv6 address (a zone index allowed, no brackets).
bool IsIpAddress(std::string_view text);
