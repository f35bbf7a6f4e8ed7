#include "remote/external_ip.h"

#include "config/settings.h"
#include "remote/console_answer.h"
#include "remote/relay_server.h"

bool RefreshExternalIp()
{
    CRelayServer relay;
    return RefreshExternalIp(relay);
}

bool RefreshExternalIp(CRelayServer& relay)
{
    std::string answer = relay.GetExternalIp();
    if (answer.empty())
        return false;
    std::string address;
    if (!ParseExternalIpAnswer(answer, address).empty() || address.empty())
        return false;
    return WriteSettingText(kKeyExtIP, address);
}
