#pragma once

// The standalone console as a child process on a free loopback port, and form
// requests to it over a real socket.

#include "server/app/daemon_process.h"
#include "support/http_client.h"

#include <memory>
#include <string>
#include <vector>

class StandaloneConsole {
public:
    // database: an SQLite file or a PostgreSQL connection string.
    StandaloneConsole(
        const std::string& folder, const std::string& database, std::vector<std::string> extra = {})
    {
        std::vector<std::string> arguments { "--address", "127.0.0.1", "--port", "0", "--database",
            database };
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        m_process = std::make_unique<DaemonProcess>(GetProgramFolder() + "/vembacast-console",
            arguments, folder, std::vector<std::string> {});
        if (m_process->WaitForOutput("listening on 127.0.0.1:")) {
            std::string out = m_process->Out();
            m_port = std::atoi(out.c_str() + out.find("127.0.0.1:") + 10);
        }
    }
    ~StandaloneConsole()
    {
        if (m_process) {
            m_process->Signal(SIGTERM);
            m_process->WaitExit();
        }
    }
    int Port() const { return m_port; }
    std::string Root() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }
    DaemonProcess& Process() { return *m_process; }
    bool Running() { return !m_process->WaitExit(std::chrono::milliseconds(0)); }

    // A form POST to page on a fresh connection; extra header lines end in "\r\n".
    HttpReply Post(const std::string& page, const std::string& body,
        const std::string& extraHeaders = {}) const
    {
        return SendRawRequest(m_port,
            "POST /pin/" + page
                + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                  "application/x-www-form-urlencoded\r\nContent-Length: "
                + std::to_string(body.size()) + "\r\n" + extraHeaders + "Connection: close\r\n\r\n"
                + body);
    }

private:
    std::unique_ptr<DaemonProcess> m_process;
    int m_port = 0;
};
