#include "remote/console_service.h"

#include "http/answer.h"

namespace {

std::string PageOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

CConsoleService::CConsoleService(AddressSource externalAddress)
    : m_externalAddress(std::move(externalAddress))
{
}

std::optional<std::string> CConsoleService::Answer(const FormRequest& request) const
{
    std::string page = PageOf(request.path);
    if (page == "getExternalIP.php")
        return AnswerExternalIp(request);
    return std::nullopt;
}

std::string CConsoleService::AnswerExternalIp(const FormRequest& request) const
{
    std::string address = m_externalAddress ? m_externalAddress(request) : std::string();
    if (address.empty())
        return PlistDocument(
            PlistAnswer(kConsoleResultNoAddress, "no external address is known").Body());
    return PlistDocument(PlistAnswer(0).Add("ip", address).Body());
}
