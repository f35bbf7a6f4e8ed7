#pragma once

// The console's answers: an Apple property list whose dictionary starts with "result"
// and, for a failure, "message", followed by the page's keys. Values are escaped.

#include <string>
#include <string_view>

class ConsolePlist {
public:
    explicit ConsolePlist(int result, std::string_view message = {});
    ConsolePlist& Add(std::string_view key, std::string_view value);
    std::string Document() const;

private:
    std::string m_body;
};
