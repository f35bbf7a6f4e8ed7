#include "remote_access.h"

#include "config/settings.h"
#include "config/app_messages.h"

int CLocalRemoteAccess::RunStartupCheck()
{
    std::string set = GetSettingString(kKeySet);
    return set.empty() || set == "0" ? kStartupNotSet : kStartupGood;
}

void CLocalRemoteAccess::StartPortMapping(PortMapping action, std::function<void(int code)> done)
{
    // Without a gateway a removal has nothing to undo; an addition finds no device.
    if (done)
        done(action == PortMapping::Remove ? 0 : kServerErrorNoUpnpDevice);
}
