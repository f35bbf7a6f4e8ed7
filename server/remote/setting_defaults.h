#pragma once

// Filling empty network settings with sensible defaults, run before the settings
// dialog opens and when the daemon starts: the first adapter's address and hardware
// address, port 47002 (or the running server's, or the first free one), the local
// address as the external address until the console has told the server its own (it
// is asked in the background, never waited for), and the host name as the server
// name.

#include <functional>
#include <string>
#include <vector>

inline constexpr int kDefaultPort = 47002;

// addresses and hardwareAddresses are the parallel lists of ListAdapters.
class RemoteContext;
void FillSettingDefaults(RemoteContext& server, const std::vector<std::string>& addresses,
    const std::vector<std::string>& hardwareAddresses);
