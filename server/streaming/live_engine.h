#pragma once

// Starting and stopping a session's live engine, shared by the variant playlist
// request (a run from the beginning) and the segment request (a seek).
//
// A restart is one step of the session's engine (SessionEngine): the old engine is
// stopped and the new one started with no other start or stop of that session in
// between. No lock is held while the line is built, the engine connects or a
// request waits for segments.

#include "streaming/live_command.h"
#include "streaming/session_engine.h"

#include <chrono>
#include <string>
#include <vector>

class ClientInfo;

// Stops the session's engine and starts one at startIndex (-1: from the
// beginning). removeSegments: the work folder's old segments go once the old
// engine has stopped, so a new run never serves a segment of another file or
// screen. The arguments are returned for traces.
LiveStart RestartLiveEngine(ClientInfo& session, int startIndex, SeekBuild seek,
    bool removeSegments, std::vector<std::string>& arguments);

// True while the session's engine process runs.
bool IsLiveEngineRunning(ClientInfo& session);

// Removes the segments (finished and half-written) of earlier runs from the work
// folder. Playlists and the subtitle script stay.
void RemoveOldSegments(const std::string& workFolder);
