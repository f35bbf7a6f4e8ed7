#pragma once

// Offscreen windows for the tests: one QApplication for the test program, a fresh data
// folder and server object per test, and seams that answer message boxes and drive
// dialogs the way a user would, recording what was shown.

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/texts.h"
#include "conversion_queue.h"
#include "core/vemba_server.h"
#include "server/platform/temp_folder.h"
#include "support/http_client.h"
#include "support/test_server.h"
#include "ui_seams.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

inline QApplication& TestApplication()
{
    static int argc = 1;
    static char name[] = "desktop_tests";
    static char* argv[] = { name, nullptr };
    static QApplication* application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *application;
}

// Runs the GUI's events until done() holds; false when it did not within the bound
// (a guard against a hang, never a measure of speed).
inline bool RunEventsUntil(const std::function<bool()>& done)
{
    return QTest::qWaitFor(done, 60000);
}

class DesktopTest : public ::testing::Test {
protected:
    DesktopTest()
    {
        TestApplication();
        m_data.Set(kKeyGeneralLanguage, "eng");
        m_seams.showMessage = [this](QWidget*, const QString& text, veneta::MessageButtons) {
            m_messages.push_back(text.toStdString());
            return m_messageAnswer;
        };
        m_seams.runDialog = [this](QDialog& dialog) {
            if (m_dialogDrivers.empty()) {
                ADD_FAILURE() << "unexpected dialog " << dialog.objectName().toStdString();
                return int(QDialog::Rejected);
            }
            auto driver = std::move(m_dialogDrivers.front());
            m_dialogDrivers.pop_front();
            dialog.show();
            driver(dialog);
            dialog.hide();
            return dialog.result();
        };
        m_seams.chooseFolder = [](QWidget*, const QString&) { return QString(); };
        m_seams.openAddress
            = [this](const QString& address) { m_opened.push_back(address.toStdString()); };
    }

    // The server of the windows over the test's data folder, made on first use with
    // the shutdown command m_shutdownCommand.
    CVembaServer& Server()
    {
        if (!m_server) {
            ServerParts parts = m_data.Parts();
            parts.shutdownCommand = m_shutdownCommand;
            m_server = std::make_unique<CVembaServer>(std::move(parts));
        }
        return *m_server;
    }
    const TextTable& Texts() { return Server().Texts(); }
    SettingsStore& Settings() { return m_data.Settings(); }
    // A path under the test's temporary root.
    std::string Path(const std::string& name) const { return m_data.Root() + "/" + name; }

    // The next dialog run is handed to driver, which presses its buttons.
    void ExpectDialog(std::function<void(QDialog&)> driver)
    {
        m_dialogDrivers.push_back(std::move(driver));
    }
    bool Shown(const char* key)
    {
        std::string text = Texts().Lookup(key);
        for (const std::string& message : m_messages) {
            if (message == text)
                return true;
        }
        return false;
    }

    vembatest::TestSettingsFolder m_data { "vembadesktop" };
    ScopedEnv m_configEnv { "XDG_CONFIG_HOME", Path("config") };
    ScopedEnv m_traceEnv { "VEMBACAST_TRACE_DIR", Path("trace") };
    std::string m_shutdownCommand = "true";
    std::unique_ptr<CVembaServer> m_server; // outlives every window of a test
    UiSeams m_seams;
    std::vector<std::string> m_messages;
    int m_messageAnswer = veneta::kButtonOk;
    std::deque<std::function<void(QDialog&)>> m_dialogDrivers;
    std::vector<std::string> m_opened;
};
