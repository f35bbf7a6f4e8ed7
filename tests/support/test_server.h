#pragma once

// Servers for tests: the parts of a server over a data folder of the test's own, the
// settings of a set-up server on a free port, and a folder that holds both and goes
// when the test ends. Every test makes its own server object, so tests never share
// state through the process, and a test may run two servers at once.

#include "config/server_parts.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "platform/ports.h"
#include "support/test_support.h"

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vembatest {

// The parts of a server over dataFolder (made when missing): the program folder of
// the test binary (build/bin, beside the engine), the real clock and spawner unless a
// test passes its own, and a harmless shutdown command.
inline ServerParts TestServerParts(const std::string& dataFolder,
    std::shared_ptr<Clock> clock = nullptr, std::shared_ptr<ProcessSpawner> spawner = nullptr)
{
    std::filesystem::create_directories(dataFolder);
    ServerParts parts = MakeServerParts(dataFolder);
    if (clock)
        parts.clock = std::move(clock);
    if (spawner)
        parts.spawner = std::move(spawner);
    parts.shutdownCommand = "true";
    return parts;
}

// A port of the test program's own: test programs run side by side, so each starts
// its search at a place of its own.
inline int FreeTestPort()
{
    return FindFreePort(47100 + static_cast<int>(getpid() % 400), kLastFreePortSearched + 400);
}

// Writes the settings of a set-up server listening on port (a free one when 0) on
// loopback; returns the port.
inline int WriteServedSettings(SettingsStore& settings, int port = 0)
{
    if (port == 0)
        port = FreeTestPort();
    const std::string text = std::to_string(port);
    settings.WriteTexts({ { kKeySet, "1" }, { kKeyInIP, "127.0.0.1" }, { kKeyInPort, text },
        { kKeyExtIP, "127.0.0.1" }, { kKeyExtPort, text }, { kKeyMacAddress, "02:00:00:00:00:01" },
        { kKeyPasswordMode, "0" }, { kKeyPINCodeMode, "0" },
        // The television device stays off; its own tests switch it on in a network of
        // their own.
        { "DlnaServer", "0" } });
    return port;
}

// A temporary folder with a data folder inside, and the parts of a server over it.
class TestDataFolder {
public:
    explicit TestDataFolder(const std::string& prefix = "vembaserver")
        : m_folder(prefix)
    {
    }
    const std::string& Root() const { return m_folder.Path(); }
    std::string DataFolder() const { return Root() + "/data"; }
    std::string ServicesFolder() const { return DataFolder() + "/Services"; }
    ServerParts Parts(std::shared_ptr<Clock> clock = nullptr,
        std::shared_ptr<ProcessSpawner> spawner = nullptr) const
    {
        return TestServerParts(DataFolder(), std::move(clock), std::move(spawner));
    }

private:
    TempFolder m_folder;
};

// A data folder of the test's own with one settings store that every server layer the
// test makes over it shares (through Parts), and shorthands for its settings: what the
// console client and remote access tests start from.
class TestSettingsFolder : public TestDataFolder {
public:
    explicit TestSettingsFolder(const std::string& prefix = "vembaserver")
        : TestDataFolder(prefix)
    {
        std::filesystem::create_directories(DataFolder());
        m_settings = std::make_shared<SettingsStore>(DataFolder());
    }
    SettingsStore& Settings() const { return *m_settings; }
    void Set(const std::string& key, const std::string& value) const
    {
        m_settings->WriteText(key, value);
    }
    std::string Get(const std::string& key) const { return m_settings->ReadText(key); }
    ServerParts Parts(std::shared_ptr<Clock> clock = nullptr,
        std::shared_ptr<ProcessSpawner> spawner = nullptr) const
    {
        ServerParts parts = TestDataFolder::Parts(std::move(clock), std::move(spawner));
        parts.settings = m_settings;
        return parts;
    }

private:
    std::shared_ptr<SettingsStore> m_settings;
};

} // namespace vembatest
