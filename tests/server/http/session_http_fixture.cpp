#include "server/http/session_http_fixture.h"

#include "config/settings.h"
#include "core/web_server_hooks.h"
#include "library/shared_folders.h"
#include "platform/places.h"
#include "streaming/session_list.h"

#include <cstdio>
#include <filesystem>

SessionHttpTest::SessionHttpTest()
{
    ClearSharedFolders();
    AddSharedFolder(m_media.path(), "Movies");
}

SessionHttpTest::~SessionHttpTest()
{
    if (m_server)
        m_server->Stop();
    ClearSharedFolders();
}

void SessionHttpTest::SetSetting(const std::string& key, const std::string& value)
{
    SetSettingString("", kSettingSection, key, value);
}

void SessionHttpTest::StartServer()
{
    m_port = PickFreePort();
    const std::string port = std::to_string(m_port);
    for (const auto& [key, value] : { std::pair<const char*, std::string> { "SET", "1" },
             { "InIP", "127.0.0.1" }, { "InPort", port }, { "ExtIP", "127.0.0.1" },
             { "ExtPort", port }, { "MACA", "02:00:00:00:00:01" }, { "PINCodeMode", "0" } }) {
        SetSetting(key, value);
    }
    if (GetSettingString("PasswordMode").empty())
        SetSetting("PasswordMode", "0");
    std::filesystem::create_directories(GetServicesFolder());
    WebServerHooks hooks;
    hooks.refreshExternalIp = [] { return true; };
    hooks.releaseSessions = [] { QZ_FreeClientInfoList(); };
    m_server = std::make_unique<CWebServer>(hooks, DefaultWebServerConfig());
    ASSERT_TRUE(m_server->Start()) << "start error " << m_server->m_nLastError;
}

std::optional<std::string> PlistValue(const std::string& document, const std::string& key)
{
    const std::string open = "<key>" + key + "</key><string>";
    size_t start = document.find(open);
    if (start == std::string::npos)
        return std::nullopt;
    start += open.size();
    size_t end = document.find("</string>", start);
    if (end == std::string::npos)
        return std::nullopt;
    return document.substr(start, end - start);
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
