#pragma once

// The arguments of a session's live engine run.

#include <string>
#include <vector>

class ClientInfo;

// The disk path of a path as a session stores it ("/Share/rest", already decoded):
// the share's folder and the rest. Empty when the share is unknown, the rest is
// empty or a component is "..".
std::string ResolveSessionFilePath(const std::string& storedPath);

enum class SeekBuild { No, Yes };

// Builds the arguments of the session's variant nBandwidth starting at segment index
// startIndex (-1 from the beginning, else at startIndex × 5 seconds) for pipe
// pipeNumber. False when there is nothing usable to start: the file is not in a
// share, its picture size cannot be read, the variant has no encoding, or a newer
// seek is waiting (nIsPrepareSeeking). Called by the session's engine restart,
// after CreateEnginePipe and before the start, with no lock held (it reads the
// media).
bool MakeLiveCommandLine(std::vector<std::string>& arguments, ClientInfo& session, int pipeNumber,
    int startIndex, SeekBuild seek);
