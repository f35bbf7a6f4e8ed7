#include "http/client_urls.h"

#include "http/request.h"

std::string ClientUrlHost(const HttpRequest& request, std::string_view basePath)
{
    const ClientView& client = request.Client();
    const bool ownRoot = client.secure || client.viaTrustedProxy;
    if (!ownRoot || request.HostValue().empty())
        return GetRequestHost(request);
    std::string root = (client.secure ? "https://" : "http://") + request.HostValue();
    if (client.viaTrustedProxy)
        root += basePath;
    return root;
}

std::string RootUrl(const std::string& host, unsigned port)
{
    if (host.find("://") != std::string::npos)
        return host;
    return "http://" + host + ":" + std::to_string(port);
}
