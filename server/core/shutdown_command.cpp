#include "core/shutdown_command.h"

#include "config/trace.h"

#include <cerrno>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>

extern char** environ;

bool RunShutdownCommand(const std::string& shutdownCommand)
{
    std::string command = shutdownCommand;
    char shell[] = "/bin/sh";
    char flag[] = "-c";
    char* argv[] = { shell, flag, command.data(), nullptr };
    pid_t child = 0;
    if (posix_spawn(&child, shell, nullptr, nullptr, argv, environ) != 0) {
        TraceMessage(kTraceWindow, "Shutdown - cannot run '%s'", command.c_str());
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    bool succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    TraceMessage(
        kTraceWindow, "Shutdown - '%s' %s", command.c_str(), succeeded ? "succeeded" : "failed");
    return succeeded;
}
