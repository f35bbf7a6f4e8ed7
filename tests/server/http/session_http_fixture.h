#pragma once

// A real server on a loopback port for the admission, file-info and direct-play
// tests: its own data folder and settings, one share "Movies" over a media folder,
// and the request table of the running system.

#include "http/web_server.h"
#include "server/platform/temp_folder.h"
#include "support/http_client.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>

class SessionHttpTest : public ::testing::Test {
protected:
    SessionHttpTest();
    ~SessionHttpTest() override;

    // Writes the settings of a set-up server (PasswordMode 0) and starts it.
    void StartServer();
    void SetSetting(const std::string& key, const std::string& value);

    HttpReply Get(const std::string& target, const std::string& headers = "",
        const std::string& method = "GET") const
    {
        return HttpGetRaw(m_port, target, headers, method);
    }

    TempFolder m_data;
    TempFolder m_media;
    ScopedEnv m_dataEnv { "VEMBACAST_DATA_DIR", m_data.path() };
    int m_port = 0;
    std::unique_ptr<CWebServer> m_server;
};

// The text of the string that follows <key>key</key>, or nothing when the key is absent.
std::optional<std::string> PlistValue(const std::string& document, const std::string& key);

// The query form of a text: every byte outside letters and digits as %XX.
std::string QueryEscape(const std::string& text);
