#pragma once

// The HTTP layer of a server alone: a data folder, a trace folder and a static root
// of their own for each test, the settings of a set-up server listening on a free
// port, and a request table whose handlers echo what they saw.

#include "config/settings.h"
#include "http/http_context.h"
#include "server/platform/temp_folder.h"
#include "support/http_client.h"
#include "support/test_server.h"

#include <gtest/gtest.h>
#include <memory>

class WebServerTest : public ::testing::Test {
protected:
    WebServerTest();

    // The settings a set-up server has, with InPort = port and ExtPort = extPort.
    void WriteGoodSettings(int extPort = 0);
    void Set(const std::string& key, const std::string& value) { m_data.Set(key, value); }
    SettingsStore& Settings() { return m_data.Settings(); }

    // The HTTP layer of a server over the test's data folder (every one made shares
    // its settings), serving the echo table from the test's static root or, with
    // defaultRoot, from web/ of the resource folder.
    std::unique_ptr<HttpContext> MakeServer(bool defaultRoot = false);

    HttpReply Get(const std::string& target, const std::string& headers = "") const
    {
        return HttpGetRaw(m_port, target, headers);
    }

    vembatest::TestSettingsFolder m_data { "vembaweb" };
    TempFolder m_traces;
    TempFolder m_root;
    ScopedEnv m_traceEnv { "VEMBACAST_TRACE_DIR", m_traces.path() };
    int m_port = 0;
};

// The handlers' answers: the URI the row saw, as the plist message.
std::string EchoedUri(const HttpReply& reply);
