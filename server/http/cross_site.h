#pragma once

// Requests that a page of another site makes a browser send. An <img>, a form or a
// fetch aimed at this server from any page the owner visits arrives with the owner's
// own address (often loopback, the home network) and, in the same site, with the
// owner's SameSite cookie; so the requests that change something (turn the computer
// off, queue or cancel conversions, end a play) are refused when the browser says
// they came from elsewhere. The phone client sends none of the headers looked at here,
// and a browser's requests from the server's own pages say "same-origin".

#include <string>
#include <string_view>

class HttpRequest;

// The origin a request was addressed to: "http://" or "https://" and its Host value,
// in lower case without a default port. Empty when the request names no host.
std::string OwnOrigin(bool secure, std::string_view hostValue);

// The origin part of a URL ("https://a.example:8443/x?y" → "https://a.example:8443"),
// in the form OwnOrigin gives; empty when the text is not an absolute http(s) URL.
std::string OriginOfUrl(std::string_view url);

// True when the browser tells that the request comes from another site or origin:
// Sec-Fetch-Site "cross-site" or "same-site", or an Origin or Referer header that names
// an origin other than ownOrigin ("null" included).
bool IsCrossSiteRequest(const HttpRequest& request, std::string_view ownOrigin);

// The plain text of the 403 answer to such a request.
inline constexpr const char* kCrossSiteRefusedText
    = "This request was sent by a page of another site and is refused. Use the server's own "
      "page or the app.";
