#pragma once

// Access for browsers. By default the server checks nothing, as phone clients expect.
// With the setting "RequirePassword" 1, "/connect" wants the password and every other
// request of the client API must carry a client id that "/connect" gave out: as the
// query variable "id", inside a "/list/<id>/" or "/file/<id>/" path, or in the
// HttpOnly cookie that a password-checked "/connect" sets. The client's own page,
// scripts and styles (static files) stay open.

#include <optional>
#include <string>
#include <string_view>

class HttpContext;
class HttpRequest;
struct Route;

inline constexpr const char* kRequirePasswordSetting = "RequirePassword";
inline constexpr const char* kClientIdCookie = "VembaCastId";

// True when the setting "RequirePassword" is 1.
bool IsPasswordRequired(HttpContext& server);

// The value of a cookie in a Cookie header ("a=1; b=2"), or nothing.
std::optional<std::string> FindCookie(std::string_view header, std::string_view name);

// The client id inside a "/list/<id>/…" or "/file/<id>/…" path, or empty.
std::string PathClientId(std::string_view uri);

// The id that "/connect" gave out that the request carries (query, path, then cookie),
// or empty.
std::string CarriedClientId(HttpContext& server, const HttpRequest& request);

// True when the request carries an id that "/connect" gave out.
bool CarriesKnownClientId(HttpContext& server, const HttpRequest& request);

// The known id in the request's id cookie alone, or empty.
std::string CookieClientId(HttpContext& server, const HttpRequest& request);

// True when the request may reach the route's handler: a home-network row only from
// the home network, any other row as the password setting says.
bool AdmitRequest(HttpContext& server, const Route& route, const HttpRequest& request);

// How long a browser keeps its id (the server forgets an id unused as long).
inline constexpr int kClientIdCookieSeconds = 30 * 24 * 60 * 60;

// The Set-Cookie header line (with CR LF) that hands a browser its client id: HttpOnly
// (no script reads it), SameSite=Strict (no other site's page sends it), kept for 30
// days, Secure when the client reached the server over https (TLS here, or at a
// trusted proxy that says so), and its path the base path (http/base_path.h), so
// behind a reverse proxy the cookie goes to this server's prefix only.
std::string ClientIdCookieHeader(
    const std::string& clientId, bool secure, const std::string& basePath = "");

// Compares a given password with the stored one in time that does not depend on where
// they differ; an empty stored password matches nothing.
bool PasswordMatches(std::string_view given, std::string_view stored);
