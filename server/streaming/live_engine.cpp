#include "streaming/live_engine.h"

#include "config/trace.h"
#include "streaming/client_info.h"

#include <filesystem>
#include <thread>

LiveStart StartLiveEngine(
    ClientInfo& session, int startIndex, SeekBuild seek, std::string& commandLine)
{
    session.SetEngineTargets();
    int pipeNumber = session.m_Encoder.CreateEnginePipe();
    if (pipeNumber == -1)
        return LiveStart::NoPipe;
    if (!MakeLiveCommandLine(commandLine, session, pipeNumber, startIndex, seek)) {
        // The pipes wait for an engine that will not come; close them now.
        session.m_Encoder.QuitEncoding();
        return LiveStart::NoLine;
    }
    if (seek == SeekBuild::Yes && session.nIsPrepareSeeking == 1) {
        session.m_Encoder.QuitEncoding();
        return LiveStart::Overtaken;
    }
    if (!session.StartENC(commandLine))
        return LiveStart::StartFailed;
    return LiveStart::Started;
}

bool IsLiveEngineRunning(ClientInfo& session)
{
    return session.m_Encoder.IsENCRunning() != 0;
}

bool WaitLiveEngineEnd(ClientInfo& session, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (IsLiveEngineRunning(session)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void RemoveOldSegments(const std::string& workFolder)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(workFolder, error)) {
        std::string name = entry.path().filename().string();
        if (name.starts_with("vemba-") && (name.ends_with(".ts") || name.ends_with(".ts.part"))) {
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}
