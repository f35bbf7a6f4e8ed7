#include "streaming/live_engine.h"

#include "config/trace.h"
#include "platform/file_io.h"
#include "streaming/client_info.h"

#include <unistd.h>

LiveStart RestartLiveEngine(ClientInfo& session, int startIndex, SeekBuild seek,
    bool removeSegments, std::vector<std::string>& arguments)
{
    auto build = [&](int pipeNumber, std::vector<std::string>& line) {
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
    return session.RestartENC(build, arguments);
}

bool IsLiveEngineRunning(ClientInfo& session)
{
    return session.Encoder().IsENCRunning() != 0;
}

void RemoveOldSegments(const std::string& workFolder)
{
    for (const std::string& name : ListFolder(workFolder, FolderEntries::Files)) {
        if (name.starts_with("vemba-") && (name.ends_with(".ts") || name.ends_with(".ts.part")))
            unlink((workFolder + "/" + name).c_str());
    }
}
