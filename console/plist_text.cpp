#include "console/plist_text.h"

namespace {

std::string Escape(std::string_view text)
{
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

ConsolePlist::ConsolePlist(int result, std::string_view message)
{
    Add("result", std::to_string(result));
    Add("message", message);
}

ConsolePlist& ConsolePlist::Add(std::string_view key, std::string_view value)
{
    m_body += "<key>" + Escape(key) + "</key><string>" + Escape(value) + "</string>\n";
    return *this;
}

std::string ConsolePlist::Document() const
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
        + m_body + "</dict>\n</plist>\n";
}
