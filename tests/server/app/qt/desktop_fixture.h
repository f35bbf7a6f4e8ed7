#pragma once

// Offscreen windows for the tests: one QApplication for the test program, a fresh data
// folder per test, and seams that answer message boxes and drive dialogs the way a
// user would, recording what was shown.

#include "config/settings.h"
#include "config/texts.h"
#include "conversion_queue.h"
#include "support/http_client.h"
#include "server/platform/temp_folder.h"
#include "ui_seams.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <deque>
#include <functional>
#include <gtest/gtest.h>

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
        SelectLanguage("eng");
        CreateFolderPath(m_root.path() + "/data");
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

    // The next dialog run is handed to driver, which presses its buttons.
    void ExpectDialog(std::function<void(QDialog&)> driver)
    {
        m_dialogDrivers.push_back(std::move(driver));
    }
    bool Shown(const char* key) const
    {
        std::string text = LookupText(key);
        for (const std::string& message : m_messages) {
            if (message == text)
                return true;
        }
        return false;
    }

    TempFolder m_root;
    ScopedEnv m_dataEnv { "VEMBACAST_DATA_DIR", m_root.path() + "/data" };
    ScopedEnv m_configEnv { "XDG_CONFIG_HOME", m_root.path() + "/config" };
    ScopedEnv m_traceEnv { "VEMBACAST_TRACE_DIR", m_root.path() + "/trace" };
    UiSeams m_seams;
    std::vector<std::string> m_messages;
    int m_messageAnswer = veneta::kButtonOk;
    std::deque<std::function<void(QDialog&)>> m_dialogDrivers;
    std::vector<std::string> m_opened;
};
