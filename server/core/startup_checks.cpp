#include "core/startup_checks.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "platform/adapters.h"
#include "platform/ports.h"
#include "remote/console_answer.h"
#include "remote/relay_server.h"

#include <cstdlib>
#include <vector>

namespace {

// The decimal parts of a dotted version; empty parts are skipped, unreadable parts
// and values beyond the range of a part count as 0.
std::vector<long> VersionParts(const std::string& version)
{
    std::vector<long> parts;
    size_t start = 0;
    while (start <= version.size()) {
        size_t dot = version.find('.', start);
        if (dot == std::string::npos)
            dot = version.size();
        std::string part = version.substr(start, dot - start);
        if (!part.empty()) {
            long value = std::strtol(part.c_str(), nullptr, 10);
            parts.push_back(value < 0 || value > 1000000000 ? 0 : value);
        }
        start = dot + 1;
    }
    return parts;
}

int Decide(int result, const char* why, std::string* reason)
{
    if (reason)
        *reason = why;
    return result;
}

int PortNumber(const std::string& text)
{
    char* end = nullptr;
    long port = std::strtol(text.c_str(), &end, 10);
    return text.empty() || *end != '\0' || port < 1 || port > 65535 ? 0 : static_cast<int>(port);
}

// Step 6: the router's mapping (automatic mode) or the adapter (manual mode).
int CheckMapping(const SettingsSnapshot& settings, IPortMapper& mapper, const std::string& inPort,
    const std::string& extPort, std::string* reason)
{
    std::string inIp = settings.Text(kKeyInIP);
    if (settings.Int(kKeyAutoPortMapMode, 0) != 0) {
        if (inIp.empty())
            return Decide(kStartupNetworkChanged, "no local address is stored", reason);
        if (!IsPortMappedToMe(mapper, inIp, PortNumber(inPort), PortNumber(extPort)))
            return Decide(kStartupNetworkChanged, "the gateway no longer maps the port", reason);
        return kStartupGood;
    }
    std::string hardwareAddress = settings.Text(kKeyMacAddress);
    if (hardwareAddress.empty())
        return Decide(kStartupNetworkChanged, "no hardware address is stored", reason);
    const Adapter* chosen = nullptr;
    std::vector<Adapter> adapters = ListAdapters();
    for (const Adapter& adapter : adapters) {
        if (adapter.hardwareAddress == hardwareAddress) {
            chosen = &adapter;
            break;
        }
    }
    if (!chosen)
        return Decide(kStartupNetworkChanged, "the stored adapter is gone", reason);
    if (chosen->address != inIp)
        return Decide(kStartupNetworkChanged, "the adapter's address changed", reason);
    if (PortNumber(inPort) != PortNumber(extPort))
        return Decide(kStartupNetworkChanged, "manual mapping needs equal ports", reason);
    return kStartupGood;
}

// Step 7: the console's record of the PIN code.
int CheckPin(SettingsStore& store, CRelayServer& relay, std::string* reason)
{
    std::shared_ptr<const SettingsSnapshot> settings = store.Current();
    std::string pinCode = settings->Text(kKeyPINCode);
    if (settings->Int(kKeyPINCodeMode, 0) != 1 || pinCode.empty())
        return kStartupGood;
    std::string answer = relay.GetServerInfoFromPinCode(pinCode, PinLocale(store));
    if (answer.empty())
        return Decide(kStartupConsoleUnreachable, "the console did not answer", reason);
    ServerInfo info;
    if (!ParseServerInfoAnswer(answer, info).empty())
        return Decide(kStartupNetworkChanged, "the console refused the PIN code", reason);
    if (info.ip != settings->Text(kKeyExtIP) || info.port != settings->Text(kKeyExtPort))
        return Decide(kStartupNetworkChanged, "the console holds another address", reason);
    return kStartupGood;
}

} // namespace

int CompareVersions(const std::string& local, const std::string& server)
{
    std::vector<long> ours = VersionParts(local);
    std::vector<long> theirs = VersionParts(server);
    for (size_t i = 0; i < std::max(ours.size(), theirs.size()); ++i) {
        long a = i < ours.size() ? ours[i] : 0;
        long b = i < theirs.size() ? theirs[i] : 0;
        if (a != b)
            return a < b ? -1 : 1;
    }
    return 0;
}

UpdateCheck RunUpdateCheck(
    SettingsStore& settings, CRelayServer& relay, const std::string& localVersion)
{
    UpdateCheck check;
    std::string answer = relay.CheckUpdate(UpdateLocale(settings));
    if (answer.empty()) {
        check.result = kUpdateNoAnswer;
        return check;
    }
    UpdateInfo info;
    if (!ParseUpdateCheckAnswer(answer, info).empty())
        return check;
    check.localVersion = localVersion;
    check.serverVersion = info.version;
    check.downloadUrl = info.url;
    if (CompareVersions(localVersion, info.version) < 0)
        check.result = kUpdateAvailable;
    return check;
}

int RunStartupCheck(SettingsStore& store, CRelayServer& relay, IPortMapper& mapper, int ownPort,
    std::string* reason)
{
    std::string set = store.ReadText(kKeySet);
    if (set.empty() || set == "0")
        return Decide(kStartupNeverSetUp, "never set up", reason);
    std::string answer = relay.GetExternalIp();
    std::string external;
    if (answer.empty() || !ParseExternalIpAnswer(answer, external).empty())
        return Decide(kStartupConsoleUnreachable, "the console gave no external address", reason);
    std::shared_ptr<const SettingsSnapshot> settings = store.Current();
    std::string stored = settings->Text(kKeyExtIP);
    if (stored.empty() || stored != external)
        return Decide(kStartupNetworkChanged, "the external address changed", reason);
    std::string inPort = settings->Text(kKeyInPort);
    // The server's own listening port is not taken by somebody else.
    bool ours = ownPort != 0 && PortNumber(inPort) == ownPort;
    if (inPort.empty() || !(ours || IsPortFree(PortNumber(inPort))))
        return Decide(kStartupNetworkChanged, "the listening port is taken", reason);
    std::string extPort = settings->Text(kKeyExtPort);
    if (extPort.empty())
        return Decide(kStartupNetworkChanged, "no external port is stored", reason);
    if (int mapping = CheckMapping(*settings, mapper, inPort, extPort, reason))
        return mapping;
    if (int pin = CheckPin(store, relay, reason))
        return pin;
    return Decide(kStartupGood, "settings good", reason);
}

const char* StartupCheckText(int result)
{
    switch (result) {
    case kStartupGood:
        return "settings good";
    case kStartupNeverSetUp:
        return "never set up";
    case kStartupConsoleUnreachable:
        return "console unreachable";
    default:
        return "network changed";
    }
}
