#pragma once

// The base path: the prefix under which a reverse proxy publishes the server
// ("/media" for https://example.net/media/). The proxy strips it before passing a
// request on, so the server's own paths stay at the root; the server writes it into
// what it hands the browser client (the page's base, the id cookie's path), while
// the phone client's paths and answers stay as they are. Setting "BasePath".

#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* kKeyBasePath = "BasePath";

// The base path in its one form: "" for none, else "/" and segments of letters,
// digits and "-._~", without a trailing slash ("/media", "/home/cast"). "" and "/"
// give ""; a trailing slash is dropped. nullopt for anything else (empty, "." or ".."
// segments, other characters, more than 128 characters), since the text goes into
// headers and the page.
std::optional<std::string> ParseBasePath(std::string_view text);

class SettingsStore;

// The stored base path; "" when it is missing or not valid.
std::string ReadBasePath(SettingsStore& settings);
