#include "remote/setting_defaults.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "platform/host.h"
#include "platform/ports.h"
#include "remote/remote_context.h"

#include <climits>
#include <cstdlib>

namespace {

int SettingNumber(SettingsStore& settings, const char* key)
{
    long value = std::strtol(settings.ReadText(key).c_str(), nullptr, 10);
    return value < INT_MIN || value > INT_MAX ? 0 : static_cast<int>(value);
}

bool IsEmpty(SettingsStore& settings, const char* key)
{
    return settings.ReadText(key).empty();
}

void FillPort(RemoteContext& server)
{
    SettingsStore& settings = server.Settings();
    if (IsEmpty(settings, kKeyInPort))
        settings.WriteText(kKeyInPort, std::to_string(kDefaultPort));
    if (server.WebServer().IsRunning()) {
        settings.WriteText(kKeyInPort, std::to_string(server.WebServer().ListeningPort()));
        return;
    }
    if (!IsPortFree(SettingNumber(settings, kKeyInPort))) {
        int port = FindFreePort();
        if (port > 0)
            settings.WriteText(kKeyInPort, std::to_string(port));
    }
}

} // namespace

void FillSettingDefaults(RemoteContext& server, const std::vector<std::string>& addresses,
    const std::vector<std::string>& hardwareAddresses)
{
    SettingsStore& settings = server.Settings();
    if (IsEmpty(settings, kKeyInIP) && !addresses.empty())
        settings.WriteText(kKeyInIP, addresses.front());
    FillPort(server);
    if (IsEmpty(settings, kKeyExtIP)) {
        settings.WriteText(kKeyExtIP, settings.ReadText(kKeyInIP));
        server.ExternalAddress().Request();
    }
    if (IsEmpty(settings, kKeyExtPort))
        settings.WriteText(kKeyExtPort, std::to_string(kDefaultPort));
    if (settings.ReadInt(kKeyAutoPortMapMode, kDefaultAutoPortMapMode) == 0
        && SettingNumber(settings, kKeyInPort) != SettingNumber(settings, kKeyExtPort))
        settings.WriteText(kKeyExtPort, std::to_string(SettingNumber(settings, kKeyInPort)));
    if (IsEmpty(settings, kKeyMacAddress) && !hardwareAddresses.empty())
        settings.WriteText(kKeyMacAddress, hardwareAddresses.front());
    if (IsEmpty(settings, kKeyPCName))
        settings.WriteText(kKeyPCName, GetHostName());
}
