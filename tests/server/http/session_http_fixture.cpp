#include "server/http/session_http_fixture.h"

#include <cctype>
#include <cstdio>

namespace {

LoopbackOptions NotStarted(LoopbackOptions options)
{
    options.start = false;
    return options;
}

} // namespace

SessionHttpTest::SessionHttpTest(LoopbackOptions options)
    : m_loopback(std::make_unique<LoopbackServer>(NotStarted(std::move(options))))
    , m_port(m_loopback->Port())
{
    Server().SharedFolders().AddSharedFolder(m_media.path(), "Movies");
}

void SessionHttpTest::StartServer()
{
    ASSERT_TRUE(m_loopback->Start()) << "start error " << Server().WebServer().m_nLastError;
}

std::string QueryEscape(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c)) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof(hex), "%%%02X", c);
            out += hex;
        }
    }
    return out;
}
