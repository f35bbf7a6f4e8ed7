#include "remote/pin_sync.h"

#include "config/settings.h"
#include "remote/console_answer.h"
#include "remote/pin_renewal.h"
#include "remote/relay_server.h"

namespace {

// A registration answer's PIN code, or empty text when there is none.
std::string Register(CRelayServer& relay, const std::string& hardwareAddress,
    const std::string& name, const std::string& port)
{
    std::string answer = relay.RegisterPinCode(hardwareAddress, name, port);
    if (answer.empty())
        return std::string();
    std::string pinCode;
    if (!ParseRegistrationAnswer(answer, pinCode).empty())
        return std::string();
    return pinCode;
}

} // namespace

bool SyncPinCode(CRelayServer& relay, const std::string& hardwareAddress)
{
    std::string stored = GetSettingString("PINCode");
    std::string storedAddress = stored.empty() ? std::string() : GetSettingString("MACA");
    bool update = !storedAddress.empty() && storedAddress == hardwareAddress;
    std::string port = GetSettingString("ExtPort");
    std::string name = GetSettingString("PCName");
    if (port.empty() || name.empty())
        return false;

    std::string pinCode = stored;
    bool current = false;
    if (update) {
        std::string answer
            = relay.UpdatePinCode(stored, port, name, hardwareAddress, true, PinLocale());
        if (answer.empty())
            return false;
        current = ParsePinUpdateAnswer(answer).empty();
    }
    if (!current) {
        // An answer without a PIN code is no registration, whatever its result said.
        pinCode = Register(relay, hardwareAddress, name, port);
        if (pinCode.empty())
            return false;
    }
    if (pinCode != stored)
        SetSettingString("", kSettingSection, "PINCode", pinCode);
    ArmDailyPinRenewal();
    return true;
}

bool SyncPinCode(const std::string& hardwareAddress)
{
    CRelayServer relay;
    return SyncPinCode(relay, hardwareAddress);
}

void ReportPinMode(CRelayServer& relay, bool pinModeOn)
{
    std::string pinCode = GetSettingString("PINCode");
    if (pinCode.empty())
        return;
    relay.UpdatePinCode(pinCode, GetSettingString("ExtPort"), GetSettingString("PCName"),
        GetSettingString("MACA"), pinModeOn, PinLocale());
}
