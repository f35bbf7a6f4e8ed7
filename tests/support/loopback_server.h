#pragma once

// Set-up shared by the fixtures that start the real HTTP front on loopback: a data
// folder under the test's root, a free port of the test program's own, and the
// settings a set-up server needs, with "Movies" shared from the media folder.

#include "config/settings.h"
#include "library/shared_folders.h"
#include "platform/places.h"
#include "platform/ports.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <utility>

namespace vembatest {

// Returns the port the server is to listen on.
inline int PrepareLoopbackServer(const std::string& root, const std::string& mediaFolder)
{
    std::filesystem::create_directories(mediaFolder);
    std::filesystem::create_directories(root + "/data");
    setenv("VEMBACAST_DATA_DIR", (root + "/data").c_str(), 1);
    // Test programs run side by side: start the search at a port of our own.
    int portNumber
        = FindFreePort(47100 + static_cast<int>(getpid() % 400), kLastFreePortSearched + 400);
    const std::string port = std::to_string(portNumber);
    const std::pair<std::string, std::string> settings[] = { { kKeySet, "1" },
        { kKeyInIP, "127.0.0.1" }, { kKeyInPort, port }, { kKeyExtIP, "127.0.0.1" },
        { kKeyExtPort, port }, { kKeyMacAddress, "02:00:00:00:00:01" }, { kKeyPasswordMode, "0" },
        { kKeyPINCodeMode, "0" } };
    for (const auto& [key, value] : settings)
        SetSettingString("", kSettingSection, key, value);
    std::filesystem::create_directories(GetServicesFolder());
    ClearSharedFolders();
    AddSharedFolder(mediaFolder, "Movies");
    return portNumber;
}

} // namespace vembatest
