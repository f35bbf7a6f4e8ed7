#pragma once

// The real daemon as a child process: its standard output and error go to files that
// the test reads while it runs.

#include "platform/places.h"
#include "server/platform/temp_folder.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

class DaemonProcess {
public:
    // The television device stays off unless the arguments say otherwise: on the
    // machine's own adapter it would announce itself on the real network.
    DaemonProcess(const std::vector<std::string>& arguments, const std::string& outputFolder)
        : DaemonProcess(
            GetProgramFolder() + "/vembacastd", WithoutDevice(arguments), outputFolder, {})
    {
    }

    static std::vector<std::string> WithoutDevice(std::vector<std::string> arguments)
    {
        if (std::find(arguments.begin(), arguments.end(), "--dlna") == arguments.end()
            && std::find(arguments.begin(), arguments.end(), "--help") == arguments.end()) {
            arguments.push_back("--dlna");
            arguments.push_back("off");
        }
        return arguments;
    }

    // Any program (a wrapper script too); environment, when not empty, replaces the
    // test's own ("NAME=value" entries).
    DaemonProcess(const std::string& program, const std::vector<std::string>& arguments,
        const std::string& outputFolder, std::vector<std::string> environment)
        : m_out(outputFolder + "/stdout")
        , m_err(outputFolder + "/stderr")
    {
        std::vector<std::string> argv { program };
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> pointers;
        for (std::string& argument : argv)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        std::vector<char*> variables;
        for (std::string& variable : environment)
            variables.push_back(variable.data());
        variables.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(
            &actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(
            &actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        char** env = environment.empty() ? environ : variables.data();
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, pointers.data(), env) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~DaemonProcess()
    {
        if (m_pid > 0 && !m_status) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    std::string Out() const { return ReadFileText(m_out); }
    std::string Err() const { return ReadFileText(m_err); }

    // Waits until standard output holds text; false when the time ran out or it ended.
    bool WaitForOutput(
        const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        return WaitFor(m_out, text, timeout);
    }
    // The same for standard error.
    bool WaitForError(
        const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        return WaitFor(m_err, text, timeout);
    }

    void Signal(int signal) const { kill(m_pid, signal); }
    pid_t Pid() const { return m_pid; }

    // The exit status, or nullopt when it has not ended in time (or died of a signal: -signal).
    std::optional<int> WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!Exited()) {
            if (std::chrono::steady_clock::now() > deadline)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return m_status;
    }

private:
    bool WaitFor(
        const std::string& file, const std::string& text, std::chrono::milliseconds timeout)
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (ReadFileText(file).find(text) == std::string::npos) {
            if (Exited() || std::chrono::steady_clock::now() > deadline)
                return ReadFileText(file).find(text) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    bool Exited()
    {
        if (m_status)
            return true;
        if (m_pid <= 0) {
            m_status = -1000;
            return true;
        }
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) != m_pid)
            return false;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return true;
    }

    std::string m_out;
    std::string m_err;
    pid_t m_pid = -1;
    std::optional<int> m_status;
};
