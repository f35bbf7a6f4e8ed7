#pragma once

// A PostgreSQL server of the test's own: initdb into a temporary folder, pg_ctl on a
// free loopback port, stopped and removed afterwards. It can be stopped and started
// again on the same port and data. PostgreSQL refuses to run as root, so under root
// the server runs as the postgres account (made by Debian's package) through runuser.

#include "support/http_client.h"
#include "support/test_support.h"

#include <filesystem>
#include <libpq-fe.h>
#include <pwd.h>
#include <string>
#include <unistd.h>

class PgServer {
public:
    // durable: fsync on, as a production server runs; tests run without it.
    explicit PgServer(bool durable = false)
        : m_durable(durable)
    {
        m_bin = BinDir();
        if (m_bin.empty() || m_folder.Path().empty())
            return;
        m_prefix = RunAsPrefix();
        if (m_prefix == "?")
            return;
        if (!m_prefix.empty() && !vembatest::RunCommand("chown postgres: " + m_folder.Path()))
            return;
        m_port = PickFreePort();
        m_initialised = vembatest::RunCommand(m_prefix + vembatest::ShellQuote(m_bin + "/initdb")
                                + " -D " + vembatest::ShellQuote(Data())
                                + " -U postgres --auth=trust -E UTF8 "
                                  "--no-sync --no-instructions",
                            &m_output)
            && Start();
    }
    ~PgServer() { Stop(); }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // Why the server is not there: empty when it runs (or ran).
    std::string Missing() const
    {
        if (m_bin.empty())
            return "PostgreSQL's server programs are not installed (/usr/lib/postgresql/*/bin); "
                   "tools/bootstrap installs the postgresql package";
        if (m_prefix == "?")
            return "running as root, but there is no postgres account to run the server as";
        return m_initialised ? std::string() : "initdb or pg_ctl failed: " + m_output;
    }
    const std::string& Output() const { return m_output; }

    bool Start()
    {
        m_running = vembatest::RunCommand(m_prefix + vembatest::ShellQuote(m_bin + "/pg_ctl")
                + " start -w -t 60 -D " + vembatest::ShellQuote(Data()) + " -l "
                + vembatest::ShellQuote(m_folder.Path() + "/log") + " -o "
                + vembatest::ShellQuote("-p " + std::to_string(m_port) + " -k " + m_folder.Path()
                    + " -c listen_addresses=127.0.0.1 -c max_connections=200"
                    + (m_durable ? "" : " -c fsync=off")),
            &m_output);
        return m_running;
    }
    bool Stop()
    {
        if (!m_running)
            return true;
        m_running = !vembatest::RunCommand(m_prefix + vembatest::ShellQuote(m_bin + "/pg_ctl")
                + " stop -w -m fast -D " + vembatest::ShellQuote(Data()),
            &m_output);
        return !m_running;
    }

    std::string ConnInfo() const
    {
        return "host=127.0.0.1 port=" + std::to_string(m_port) + " user=postgres dbname=postgres";
    }
    // The same server through its Unix socket, as a console beside it would connect.
    std::string SocketConnInfo() const
    {
        return "host=" + m_folder.Path() + " port=" + std::to_string(m_port)
            + " user=postgres dbname=postgres";
    }
    int Port() const { return m_port; }

    // The server's main process, 0 when it is not running.
    int PostmasterPid() const
    {
        std::string text = ReadText(Data() + "/postmaster.pid");
        return m_running ? std::atoi(text.c_str()) : 0;
    }

    // Runs statements on a connection of its own; the first value of the last result
    // in value. False with the error in value when they fail.
    bool Sql(const std::string& sql, std::string* value = nullptr) const
    {
        PGconn* connection = PQconnectdb(ConnInfo().c_str());
        PGresult* result = PQexec(connection, sql.c_str());
        ExecStatusType status = PQresultStatus(result);
        bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        if (value)
            *value = !ok                ? PQerrorMessage(connection)
                : PQntuples(result) > 0 ? PQgetvalue(result, 0, 0)
                                        : "";
        PQclear(result);
        PQfinish(connection);
        return ok;
    }

private:
    static std::string ReadText(const std::string& path)
    {
        std::string text;
        if (FILE* file = std::fopen(path.c_str(), "r")) {
            char buffer[256];
            size_t got = std::fread(buffer, 1, sizeof(buffer), file);
            text.assign(buffer, got);
            std::fclose(file);
        }
        return text;
    }
    std::string Data() const { return m_folder.Path() + "/data"; }

    static std::string BinDir()
    {
        std::string best;
        std::error_code ignored;
        for (const auto& entry :
            std::filesystem::directory_iterator("/usr/lib/postgresql", ignored)) {
            std::string bin = entry.path().string() + "/bin";
            if (std::filesystem::exists(bin + "/pg_ctl") && bin > best)
                best = bin;
        }
        return best;
    }

    // "" as an ordinary user; under root the runuser prefix, or "?" without an account.
    static std::string RunAsPrefix()
    {
        if (geteuid() != 0)
            return "";
        return getpwnam("postgres") ? "runuser -u postgres -- " : "?";
    }

    bool m_durable;
    vembatest::TempFolder m_folder { "vemba-pg" };
    std::string m_bin;
    std::string m_prefix;
    std::string m_output;
    int m_port = 0;
    bool m_initialised = false;
    bool m_running = false;
};
