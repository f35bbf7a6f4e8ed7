#include "console/console_service.h"

#include "config/utf8_text.h"
#include "console/plist_text.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr size_t kMaxNameBytes = 255;

std::string Field(const ConsoleRequest& request, const char* name)
{
    auto found = request.fields.find(name);
    return found == request.fields.end() ? std::string() : found->second;
}

bool IsPortText(const std::string& text)
{
    if (text.empty() || text.size() > 5
        || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    int port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

// "%02X:%02X:%02X:%02X:%02X:%02X"
bool IsHardwareAddress(const std::string& text)
{
    if (text.size() != 17)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool colon = i % 3 == 2;
        if (colon ? text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

// Codes are digits; anything else is unknown without asking the registry, whose store
// may not even take the bytes.
bool IsPinText(const std::string& text)
{
    return !text.empty() && text.size() <= 16
        && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Names are shown on phones and in the registry's tools: well-formed UTF-8 without
// control characters.
bool IsName(const std::string& text)
{
    return !text.empty() && text.size() <= kMaxNameBytes
        && std::none_of(
            text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; })
        && SanitizeUtf8(text) == text;
}

ConsoleAnswer Failure(int result, const char* message)
{
    return ConsoleAnswer { 200, ConsolePlist(result, message).Document() };
}

ConsoleAnswer Unreachable()
{
    return ConsoleAnswer { 503,
        ConsolePlist(
            kConsoleResultNoRegistry, "the PIN registry cannot be reached; try again later")
            .Document() };
}

ConsoleAnswer Success(const ConsolePlist& plist)
{
    return ConsoleAnswer { 200, plist.Document() };
}

} // namespace

CConsoleService::CConsoleService(AddressSource externalAddress, IPinRegistry* registry,
    IAddressLimit* lookupLimit, ConsoleRelease release, IAddressLimit* registrationLimit)
    : m_externalAddress(std::move(externalAddress))
    , m_registry(registry)
    , m_lookupLimit(lookupLimit)
    , m_release(std::move(release))
    , m_registrationLimit(registrationLimit)
{
}

std::optional<std::string> CConsoleService::Answer(const ConsoleRequest& request) const
{
    ConsoleAnswer answer = Respond(request);
    if (answer.status == 404)
        return std::nullopt;
    return answer.document;
}

ConsoleAnswer CConsoleService::Respond(const ConsoleRequest& request) const
{
    const std::string& page = request.page;
    if (page == "getExternalIP.php")
        return AnswerExternalIp(request);
    if (page == "updatecheck.php")
        return AnswerUpdateCheck();
    bool pinPage = page == "registerPINCode.php" || page == "getServerInfoFromPINCode.php"
        || page == "updatePINCode.php";
    if (!pinPage)
        return ConsoleAnswer { 404, "" };
    if (!m_registry)
        return Failure(kConsoleResultNoRegistry, "this console keeps no PIN codes");
    if (page == "registerPINCode.php")
        return AnswerRegister(request);
    if (page == "getServerInfoFromPINCode.php")
        return AnswerServerInfo(request);
    return AnswerUpdatePin(request);
}

ConsoleAnswer CConsoleService::AnswerExternalIp(const ConsoleRequest& request) const
{
    std::string address = m_externalAddress ? m_externalAddress(request) : std::string();
    if (address.empty())
        return Failure(kConsoleResultNoAddress, "no external address is known");
    return Success(ConsolePlist(0).Add("ip", address));
}

ConsoleAnswer CConsoleService::AnswerRegister(const ConsoleRequest& request) const
{
    PinRecord record { "", Field(request, "mac"), Field(request, "name"), "",
        Field(request, "port"), true };
    if (!IsHardwareAddress(record.hardwareAddress) || !IsName(record.name)
        || !IsPortText(record.port))
        return Failure(kConsoleResultBadRequest, "mac, name or port is missing or malformed");
    record.address = m_externalAddress ? m_externalAddress(request) : std::string();
    if (record.address.empty())
        return Failure(kConsoleResultNoAddress, "no external address is known");
    LimitVerdict verdict = m_registrationLimit ? m_registrationLimit->Check(request.requester)
                                               : LimitVerdict::Allowed;
    if (verdict == LimitVerdict::Unknown)
        return Unreachable();
    if (verdict == LimitVerdict::Refused)
        return Failure(kConsoleResultTooManyRegistrations,
            "too many registrations from this address; try again later");
    if (m_registry->Add(record) != RegistryOutcome::Done)
        return Unreachable();
    if (m_registrationLimit)
        m_registrationLimit->Record(request.requester);
    return Success(ConsolePlist(0).Add("pincode", record.pinCode));
}

ConsoleAnswer CConsoleService::FailedLookup(
    const ConsoleRequest& request, int result, const char* message) const
{
    if (m_lookupLimit)
        m_lookupLimit->Record(request.requester);
    return Failure(result, message);
}

ConsoleAnswer CConsoleService::GuardedLookUp(
    const ConsoleRequest& request, const std::string& pinCode, PinRecord& record) const
{
    GuardedFind guarded;
    if (IsPinText(pinCode))
        guarded = m_registry->FindGuarded(pinCode, request.requester, m_lookupLimit, record);
    else if (m_lookupLimit)
        guarded.verdict = m_lookupLimit->Check(request.requester);
    if (guarded.verdict == LimitVerdict::Unknown || guarded.outcome == RegistryOutcome::Unavailable)
        return Unreachable();
    if (guarded.verdict == LimitVerdict::Refused)
        return Failure(kConsoleResultTooManyLookups,
            "too many look-ups of unknown PIN codes from this address; try again later");
    if (guarded.outcome == RegistryOutcome::NotFound)
        return FailedLookup(request, kConsoleResultUnknownPin, "unknown PIN code");
    return ConsoleAnswer { 0, "" };
}

ConsoleAnswer CConsoleService::AnswerServerInfo(const ConsoleRequest& request) const
{
    PinRecord record;
    ConsoleAnswer failed = GuardedLookUp(request, Field(request, "pincode"), record);
    if (failed.status != 0)
        return failed;
    if (!record.modeOn)
        return Failure(kConsoleResultPinModeOff, "the server has switched its PIN code off");
    return Success(ConsolePlist(0)
                       .Add("ip", record.address)
                       .Add("port", record.port)
                       .Add("pcname", record.name));
}

ConsoleAnswer CConsoleService::AnswerUpdatePin(const ConsoleRequest& request) const
{
    std::string modeOn = Field(request, "modeon");
    PinRecord update { Field(request, "pincode"), Field(request, "mac"), Field(request, "name"), "",
        Field(request, "port"), modeOn == "1" };
    if (!IsHardwareAddress(update.hardwareAddress) || !IsName(update.name)
        || !IsPortText(update.port) || (modeOn != "0" && modeOn != "1"))
        return Failure(kConsoleResultBadRequest, "a field is missing or malformed");
    PinRecord record;
    ConsoleAnswer failed = GuardedLookUp(request, update.pinCode, record);
    if (failed.status != 0)
        return failed;
    // Only the server that registered the code may move it.
    if (record.hardwareAddress != update.hardwareAddress)
        return FailedLookup(
            request, kConsoleResultNotYourPin, "the PIN code belongs to another server");
    update.address = m_externalAddress ? m_externalAddress(request) : std::string();
    if (update.address.empty())
        return Failure(kConsoleResultNoAddress, "no external address is known");
    RegistryOutcome stored = m_registry->Replace(update);
    if (stored == RegistryOutcome::Unavailable)
        return Unreachable();
    if (stored == RegistryOutcome::NotFound) // expired or removed since the look-up
        return Failure(kConsoleResultUnknownPin, "unknown PIN code");
    return Success(ConsolePlist(0));
}

ConsoleAnswer CConsoleService::AnswerUpdateCheck() const
{
    return Success(ConsolePlist(0)
                       .Add("version", m_release.version)
                       .Add("code", m_release.code)
                       .Add("url", m_release.url));
}
