#include "console/plist_text.h"

#include "http/answer.h"

ConsolePlist::ConsolePlist(int result, std::string_view message)
{
    Add("result", std::to_string(result));
    Add("message", message);
}

ConsolePlist& ConsolePlist::Add(std::string_view key, std::string_view value)
{
    m_body += "<key>" + XmlEscape(key) + "</key><string>" + XmlEscape(value) + "</string>\n";
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
