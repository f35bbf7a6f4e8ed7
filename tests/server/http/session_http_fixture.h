#pragma once

// A real server on a loopback port for the admission, file-info, direct-play and
// power-off tests: a whole server object over its own data folder with the settings
// of a set-up server, one share "Movies" over a media folder of the test, and the
// request table of the running system.

#include "server/platform/temp_folder.h"
#include "support/loopback_server.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

class SessionHttpTest : public ::testing::Test {
protected:
    explicit SessionHttpTest(LoopbackOptions options = {});

    // Starts the server with the settings written so far (PasswordMode 0 unless set).
    void StartServer();
    void SetSetting(const std::string& key, const std::string& value)
    {
        Server().Settings().WriteText(key, value);
    }
    CVembaServer& Server() { return m_loopback->Server(); }

    HttpReply Get(const std::string& target, const std::string& headers = "",
        const std::string& method = "GET") const
    {
        return HttpGetRaw(m_port, target, headers, method);
    }

    TempFolder m_media;
    std::unique_ptr<LoopbackServer> m_loopback;
    int m_port = 0;
};

// The query form of a text: every byte outside letters and digits as %XX.
std::string QueryEscape(const std::string& text);
