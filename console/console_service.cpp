#include "console/console_service.h"

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

bool IsName(const std::string& text)
{
    return !text.empty() && text.size() <= kMaxNameBytes
        && std::none_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20; });
}

std::string Failure(int result, const char* message)
{
    return ConsolePlist(result, message).Document();
}

} // namespace

CConsoleService::CConsoleService(AddressSource externalAddress, IPinRegistry* registry,
    CLookupLimiter* limiter, ConsoleRelease release)
    : m_externalAddress(std::move(externalAddress))
    , m_registry(registry)
    , m_limiter(limiter)
    , m_release(std::move(release))
{
}

std::optional<std::string> CConsoleService::Answer(const ConsoleRequest& request) const
{
    const std::string& page = request.page;
    if (page == "getExternalIP.php")
        return AnswerExternalIp(request);
    if (page == "updatecheck.php")
        return AnswerUpdateCheck();
    bool pinPage = page == "registerPINCode.php" || page == "getServerInfoFromPINCode.php"
        || page == "updatePINCode.php";
    if (!pinPage)
        return std::nullopt;
    if (!m_registry)
        return Failure(kConsoleResultNoRegistry, "this console keeps no PIN codes");
    if (page == "registerPINCode.php")
        return AnswerRegister(request);
    if (page == "getServerInfoFromPINCode.php")
        return AnswerServerInfo(request);
    return AnswerUpdatePin(request);
}

std::string CConsoleService::AnswerExternalIp(const ConsoleRequest& request) const
{
    std::string address = m_externalAddress ? m_externalAddress(request) : std::string();
    if (address.empty())
        return Failure(kConsoleResultNoAddress, "no external address is known");
    return ConsolePlist(0).Add("ip", address).Document();
}

std::string CConsoleService::AnswerRegister(const ConsoleRequest& request) const
{
    PinRecord record { "", Field(request, "mac"), Field(request, "name"), "",
        Field(request, "port"), true };
    if (!IsHardwareAddress(record.hardwareAddress) || !IsName(record.name)
        || !IsPortText(record.port))
        return Failure(kConsoleResultBadRequest, "mac, name or port is missing or malformed");
    record.address = m_externalAddress ? m_externalAddress(request) : std::string();
    if (record.address.empty())
        return Failure(kConsoleResultNoAddress, "no external address is known");
    std::string pinCode = m_registry->Register(record);
    if (pinCode.empty())
        return Failure(kConsoleResultNoRegistry, "the PIN code could not be stored");
    return ConsolePlist(0).Add("pincode", pinCode).Document();
}

std::optional<std::string> CConsoleService::RefuseLookup(const ConsoleRequest& request) const
{
    if (!m_limiter || m_limiter->Allows(request.requester))
        return std::nullopt;
    return Failure(kConsoleResultTooManyLookups,
        "too many look-ups of unknown PIN codes from this address; try again later");
}

void CConsoleService::RecordFailedLookup(const ConsoleRequest& request) const
{
    if (m_limiter)
        m_limiter->RecordFailure(request.requester);
}

std::string CConsoleService::AnswerServerInfo(const ConsoleRequest& request) const
{
    if (auto refused = RefuseLookup(request))
        return *refused;
    std::optional<PinRecord> record = m_registry->Find(Field(request, "pincode"));
    if (!record) {
        RecordFailedLookup(request);
        return Failure(kConsoleResultUnknownPin, "unknown PIN code");
    }
    if (!record->modeOn)
        return Failure(kConsoleResultPinModeOff, "the server has switched its PIN code off");
    return ConsolePlist(0)
        .Add("ip", record->address)
        .Add("port", record->port)
        .Add("pcname", record->name)
        .Document();
}

std::string CConsoleService::AnswerUpdatePin(const ConsoleRequest& request) const
{
    if (auto refused = RefuseLookup(request))
        return *refused;
    std::string modeOn = Field(request, "modeon");
    PinRecord update { Field(request, "pincode"), Field(request, "mac"), Field(request, "name"), "",
        Field(request, "port"), modeOn == "1" };
    if (!IsHardwareAddress(update.hardwareAddress) || !IsName(update.name)
        || !IsPortText(update.port) || (modeOn != "0" && modeOn != "1"))
        return Failure(kConsoleResultBadRequest, "a field is missing or malformed");
    std::optional<PinRecord> record = m_registry->Find(update.pinCode);
    if (!record) {
        RecordFailedLookup(request);
        return Failure(kConsoleResultUnknownPin, "unknown PIN code");
    }
    // Only the server that registered the code may move it.
    if (record->hardwareAddress != update.hardwareAddress) {
        RecordFailedLookup(request);
        return Failure(kConsoleResultNotYourPin, "the PIN code belongs to another server");
    }
    update.address = m_externalAddress ? m_externalAddress(request) : std::string();
    if (update.address.empty())
        return Failure(kConsoleResultNoAddress, "no external address is known");
    if (!m_registry->Update(update))
        return Failure(kConsoleResultNoRegistry, "the PIN code could not be stored");
    return ConsolePlist(0).Document();
}

std::string CConsoleService::AnswerUpdateCheck() const
{
    return ConsolePlist(0)
        .Add("version", m_release.version)
        .Add("code", m_release.code)
        .Add("url", m_release.url)
        .Document();
}
