#pragma once

// The names the server answers to. A browser that was sent to this server under a
// name an attacker controls (DNS rebinding) would treat the server's answers as that
// attacker's own pages and let their scripts read them; so a request is served only
// under an IP address, "localhost", the machine's own names, a name the owner allowed
// (setting "AllowedHosts", the daemon's --allow-host), or the host a trusted proxy
// forwarded. A request without a Host header (HTTP/1.0) is served as it always was.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kAllowedHostsSetting = "AllowedHosts";

// The name of a Host header value in lower case, without port and trailing dot:
// "Media.Example:47002" → "media.example", "[::1]:80" → "::1". Nothing when the
// value is not a host (bad characters, an unclosed bracket, a port that is no number).
std::optional<std::string> HostValueName(std::string_view value);

// The machine's own names: its host name and that name under ".local", lower case.
std::vector<std::string> OwnHostNames();

// True when a request for name (as HostValueName gives it) is served. allowedSetting
// is the text of "AllowedHosts": names separated by blanks, commas or semicolons.
bool IsAllowedHostName(std::string_view name, std::string_view allowedSetting,
    const std::vector<std::string>& ownNames);

// The text of the 421 answer for a name the server does not answer to.
std::string MisdirectedRequestText(std::string_view name);
