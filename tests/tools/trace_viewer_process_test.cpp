#include "config/trace.h"
#include "platform/places.h"
#include "server/platform/temp_folder.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// vembacast-trace of the program folder, its output read through a pipe.
class ViewerProcess {
public:
    ViewerProcess()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::string program = GetProgramFolder() + "/vembacast-trace";
        char* argv[] = { program.data(), nullptr };
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_out = fds[0];
    }
    ~ViewerProcess()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
    }
    pid_t pid() const { return m_pid; }

    // Output up to the first line end, waiting at most two seconds.
    std::string readLine()
    {
        std::string line;
        auto deadline = std::chrono::steady_clock::now() + 2s;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd ready { m_out, POLLIN, 0 };
            if (poll(&ready, 1, 100) != 1)
                continue;
            char c;
            if (read(m_out, &c, 1) != 1)
                break;
            if (c == '\n')
                return line;
            line += c;
        }
        return line;
    }

    // Exit status after SIGINT, or -1 when it did not end within two seconds.
    int interruptAndWait()
    {
        kill(m_pid, SIGINT);
        for (int i = 0; i < 200; ++i) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

TEST(TraceViewerProcess, PrintsEachMessageAndStopsOnInterrupt)
{
    TempFolder runtime;
    TempFolder traceDir;
    ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", runtime.path());
    ScopedEnv traceEnv("VEMBACAST_TRACE_DIR", traceDir.path());
    ResetTraceStateForTesting();
    ViewerProcess viewer;
    ASSERT_GT(viewer.pid(), 0);
    for (int i = 0; i < 200 && !std::filesystem::exists(runtime / "Displayer"); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(std::filesystem::exists(runtime / "Displayer"));

    TraceMessage(kTraceRequest, "Noti : OnNotifyConnect: ('%s')", "x");
    TraceMessage(kTraceEngineLifetime, "ClientInfo::StopENC (%d)", 3);
    EXPECT_EQ(viewer.readLine(), "0x10010 Noti : OnNotifyConnect: ('x')");
    EXPECT_EQ(viewer.readLine(), "0x200009 ClientInfo::StopENC (3)");
    EXPECT_EQ(viewer.interruptAndWait(), 0);
    EXPECT_FALSE(std::filesystem::exists(runtime / "Displayer")) << "the socket is removed";
    ResetTraceStateForTesting();
}

} // namespace
