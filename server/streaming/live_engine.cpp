#include "streaming/live_engine.h"

#include "config/trace.h"
#include "streaming/client_info.h"

#include <filesystem>

LiveStart RestartLiveEngine(ClientInfo& session, int startIndex, SeekBuild seek,
    bool removeSegments, std::string& commandLine)
{
    auto build = [&](int pipeNumber, std::string& line) {
        // Play ended or the session went while the old engine stopped.
        if (session.IsReleased() || (seek == SeekBuild::Yes && session.nIsPlay == 0))
            return SessionEngine::Line::Nothing;
        if (removeSegments)
            RemoveOldSegments(GetSessionWorkFolder(session.szClientID));
        if (seek == SeekBuild::Yes && session.nIsPrepareSeeking == 1)
            return SessionEngine::Line::Overtaken;
        if (!MakeLiveCommandLine(line, session, pipeNumber, startIndex, seek))
            return seek == SeekBuild::Yes && session.nIsPrepareSeeking == 1
                ? SessionEngine::Line::Overtaken
                : SessionEngine::Line::Nothing;
        if (seek == SeekBuild::Yes && session.nIsPrepareSeeking == 1)
            return SessionEngine::Line::Overtaken;
        return SessionEngine::Line::Built;
    };
    return session.RestartENC(build, commandLine);
}

bool IsLiveEngineRunning(ClientInfo& session)
{
    return session.Encoder().IsENCRunning() != 0;
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
