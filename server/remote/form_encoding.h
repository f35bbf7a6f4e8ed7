#pragma once

// Form bodies of the console requests. Every value is percent-encoded, so a server
// name holding '&', '=', '+', a blank or non-ASCII letters arrives as it was typed.

#include <string>
#include <utility>
#include <vector>

// "name=value&name=value" with each value encoded (names are fixed ASCII words).
std::string FormBody(const std::vector<std::pair<std::string, std::string>>& fields);
