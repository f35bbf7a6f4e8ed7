#include "enginectl/engine_tool.h"

#include "config/trace.h"
#include "enginectl/engine_census.h"
#include "platform/process.h"

#include <sys/stat.h>
#include <unistd.h>

bool RunEngineTool(const EngineLaunch& launch, const std::vector<std::string>& args,
    const std::string& output, std::chrono::milliseconds bound)
{
    if (!launch.spawner)
        return false;
    SpawnRequest request;
    request.program = launch.enginePath;
    request.args = args;
    request.environment.emplace_back(kEngineCountVariable,
        launch.census ? launch.census->CountForNewEngine() : std::string("1"));
    std::shared_ptr<ChildProcess> process = launch.spawner->Spawn(request);
    if (!process) {
        TraceMessage(
            kTraceStreamFailure, "EngineTool : cannot start ('%s')", CommandLineText(args).c_str());
        return false;
    }
    if (launch.census)
        launch.census->Note(process);
    if (!process->WaitForExit(bound)) {
        process->Kill();
        unlink((output + ".part").c_str());
        TraceMessage(kTraceStreamFailure, "EngineTool : out of time, stopped ('%s')",
            CommandLineText(args).c_str());
        return false;
    }
    struct stat info { };
    return stat(output.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}
