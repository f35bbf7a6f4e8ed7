#include "dlna/dlna_settings.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "http/access_gate.h"
#include "platform/guid.h"

#include <cctype>

bool IsDlnaServerOn(SettingsStore& settings)
{
    const std::string value = settings.ReadText(kKeyDlnaServer);
    if (value.empty())
        return settings.ReadInt(kRequirePasswordSetting, 0) != 1;
    return value == "1";
}

bool IsDeviceUdn(const std::string& text)
{
    static constexpr std::string_view kPrefix = "uuid:";
    if (text.size() != kPrefix.size() + 36 || !text.starts_with(kPrefix))
        return false;
    for (size_t i = 0; i < 36; ++i) {
        const char c = text[kPrefix.size() + i];
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

std::string DlnaDeviceUdn(SettingsStore& settings)
{
    std::string udn = settings.ReadText(kKeyDlnaUdn);
    if (IsDeviceUdn(udn))
        return udn;
    std::string hex = CreateGuidHex();
    if (hex.size() != 32)
        return std::string();
    for (char& c : hex)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    udn = "uuid:" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-"
        + hex.substr(16, 4) + "-" + hex.substr(20);
    settings.WriteText(kKeyDlnaUdn, udn);
    return udn;
}

std::string DlnaFriendlyName(SettingsStore& settings)
{
    std::string name = settings.ReadText(kKeyPCName);
    return name.empty() ? std::string("Vemba Cast") : name;
}
