#pragma once

// A data folder, a trace folder and a static root of their own for each test, the
// settings of a set-up server listening on a free port, and a request table whose
// handlers echo what they saw.

#include "config/settings.h"
#include "http/web_server.h"
#include "server/platform/temp_folder.h"
#include "support/http_client.h"

#include <gtest/gtest.h>
#include <memory>

class WebServerTest : public ::testing::Test {
protected:
    WebServerTest();

    // The settings a set-up server has, with InPort = port and ExtPort = extPort.
    void WriteGoodSettings(int extPort = 0);
    void Set(const std::string& key, const std::string& value)
    {
        SetSettingString("", kSettingSection, key, value);
    }

    // A server over the echo table with the given outcome of the console refresh.
    std::unique_ptr<CWebServer> MakeServer(bool refreshSucceeds = true, bool defaultRoot = false);

    HttpReply Get(const std::string& target, const std::string& headers = "") const
    {
        return HttpGetRaw(m_port, target, headers);
    }

    TempFolder m_data;
    TempFolder m_traces;
    TempFolder m_root;
    ScopedEnv m_dataEnv { "VEMBACAST_DATA_DIR", m_data.path() };
    ScopedEnv m_traceEnv { "VEMBACAST_TRACE_DIR", m_traces.path() };
    int m_port = 0;
};

// The handlers' answers: the URI the row saw, as the plist message.
std::string EchoedUri(const HttpReply& reply);
