#include "remote/setting_defaults.h"

#include "config/settings.h"
#include "http/web_server.h"
#include "platform/host.h"
#include "platform/ports.h"
#include "remote/external_ip.h"

#include <climits>
#include <cstdlib>

namespace {

bool IsEmpty(const char* key)
{
    return GetSettingString(key).empty();
}

void Write(const char* key, const std::string& value)
{
    WriteSettingText(key, value);
}

int SettingNumber(const char* key)
{
    long value = std::strtol(GetSettingString(key).c_str(), nullptr, 10);
    return value < INT_MIN || value > INT_MAX ? 0 : static_cast<int>(value);
}

void FillPort()
{
    if (IsEmpty("InPort"))
        Write("InPort", std::to_string(kDefaultPort));
    if (IsWebServerRunning()) {
        Write("InPort", std::to_string(GetListeningPort()));
        return;
    }
    if (!IsPortFree(SettingNumber("InPort"))) {
        int port = FindFreePort();
        if (port > 0)
            Write("InPort", std::to_string(port));
    }
}

} // namespace

void FillSettingDefaults(
    const std::vector<std::string>& addresses, const std::vector<std::string>& hardwareAddresses)
{
    FillSettingDefaults(addresses, hardwareAddresses, [] { return RefreshExternalIp(); });
}

void FillSettingDefaults(const std::vector<std::string>& addresses,
    const std::vector<std::string>& hardwareAddresses,
    const std::function<bool()>& refreshExternalIp)
{
    if (IsEmpty("InIP") && !addresses.empty())
        Write("InIP", addresses.front());
    FillPort();
    if (IsEmpty("ExtIP") && !(refreshExternalIp && refreshExternalIp()))
        Write(kKeyExtIP, ReadSettingText(kKeyInIP));
    if (IsEmpty("ExtPort"))
        Write("ExtPort", std::to_string(kDefaultPort));
    if (ReadSettingInt(kKeyAutoPortMapMode, kDefaultAutoPortMapMode) == 0
        && SettingNumber("InPort") != SettingNumber("ExtPort"))
        Write("ExtPort", std::to_string(SettingNumber("InPort")));
    if (IsEmpty("MACA") && !hardwareAddresses.empty())
        Write("MACA", hardwareAddresses.front());
    if (IsEmpty("PCName"))
        Write("PCName", GetHostName());
}
