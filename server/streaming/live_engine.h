#pragma once

// Starting and stopping a session's live engine, shared by the variant playlist
// request (a run from the beginning) and the segment request (a seek).
//
// Lock order: the engine-start lock (EngineStartLock) is taken first and held from
// CreateEnginePipe to the end of StartENC; StartENC and StopENC take the session's
// engine lock (LOCK_ENC) inside it. No lock is held while a request waits for
// segments.

#include "streaming/live_command.h"

#include <chrono>
#include <string>

class ClientInfo;

enum class LiveStart {
    Started,
    NoPipe, // CreateEnginePipe failed
    NoLine, // MakeLiveCommandLine found nothing to start (or a newer seek is waiting)
    Overtaken, // a newer seek came in while the line was built
    StartFailed, // StartENC failed
};

// With the engine-start lock held by the caller: points the engine's notices at the
// main window, creates the pipes, builds the line for startIndex and starts the
// engine. The line is returned for traces.
LiveStart StartLiveEngine(
    ClientInfo& session, int startIndex, SeekBuild seek, std::string& commandLine);

// True while the session's engine process runs.
bool IsLiveEngineRunning(ClientInfo& session);

// Polls until the session's engine has ended or timeout has passed.
bool WaitLiveEngineEnd(ClientInfo& session, std::chrono::milliseconds timeout);

// Removes the segments (finished and half-written) of earlier runs from the work
// folder, so a new run from the beginning never serves a segment of another file or
// screen. Playlists and the subtitle script stay.
void RemoveOldSegments(const std::string& workFolder);
