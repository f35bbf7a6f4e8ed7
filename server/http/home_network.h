#pragma once

// Which client addresses count as the home network: the requests that may act on the
// computer itself (the remote power button) come only from there.

#include <string_view>

// True for loopback (127/8, ::1), private (10/8, 172.16/12, 192.168/16, fc00::/7) and
// link-local (169.254/16, fe80::/10) addresses, IPv4 ones also in their IPv6-mapped
// form. Anything else, and any text that is not an address, is false.
bool IsHomeNetworkAddress(std::string_view address);
