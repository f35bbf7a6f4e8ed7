#include "remote/pin_sync.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "remote/console_answer.h"
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

bool SyncPinCode(SettingsStore& settings, CRelayServer& relay, const std::string& hardwareAddress)
{
    std::shared_ptr<const SettingsSnapshot> values = settings.Current();
    std::string stored = values->Text(kKeyPINCode);
    std::string storedAddress = stored.empty() ? std::string() : values->Text(kKeyMacAddress);
    bool update = !storedAddress.empty() && storedAddress == hardwareAddress;
    std::string port = values->Text(kKeyExtPort);
    std::string name = values->Text(kKeyPCName);
    if (port.empty() || name.empty())
        return false;

    std::string pinCode = stored;
    bool current = false;
    if (update) {
        std::string answer
            = relay.UpdatePinCode(stored, port, name, hardwareAddress, true, PinLocale(settings));
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
        settings.WriteText(kKeyPINCode, pinCode);
    return true;
}

void ReportPinMode(SettingsStore& settings, CRelayServer& relay, bool pinModeOn)
{
    std::shared_ptr<const SettingsSnapshot> current = settings.Current();
    std::string pinCode = current->Text(kKeyPINCode);
    if (pinCode.empty())
        return;
    relay.UpdatePinCode(pinCode, current->Text(kKeyExtPort), current->Text(kKeyPCName),
        current->Text(kKeyMacAddress), pinModeOn, PinLocale(settings));
}
