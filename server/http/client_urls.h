#pragma once

// Where the URLs the server writes for a client point. A phone that reaches the
// server directly gets the protocol's own form, "http://host:port" on the external
// port. A client that came over TLS, or through a trusted reverse proxy, gets the
// scheme and host it used itself (and the proxy's base path), so it never follows a
// URL past the proxy or down to plain HTTP.

#include <string>
#include <string_view>

class HttpRequest;

// The host part of the client's URLs, as kept beside its id: the host alone
// ("10.0.0.5") for a plain request straight to the server, else the client's own
// root "scheme://host[:port][base path]". basePath is the stored base path
// (http/base_path.h), used only behind a trusted proxy, which strips it.
std::string ClientUrlHost(const HttpRequest& request, std::string_view basePath);

// The root URL for a host given by ClientUrlHost: "http://host:port" for a host
// alone, the client's own root as it is.
std::string RootUrl(const std::string& host, unsigned port);
