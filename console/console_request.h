#pragma once

// One request to the console, as its logic sees it whatever serves it: the page (the
// last part of the path, so "/pin/registerPINCode.php" and "/registerPINCode.php" are
// the same page), the decoded form fields and the address the request came from.

#include <map>
#include <string>

struct ConsoleRequest {
    std::string page;
    std::map<std::string, std::string> fields;
    std::string requester; // the address the answer's "ip" is taken from
};

// Decodes an application/x-www-form-urlencoded body ('+' is a blank, %XX a byte). A
// malformed escape is kept as it stands; the first of repeated names wins.
std::map<std::string, std::string> ParseFormFields(const std::string& body);

// The last part of a path.
std::string PageOfPath(const std::string& path);
