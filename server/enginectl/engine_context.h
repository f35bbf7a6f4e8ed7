#pragma once

// The server as its engine control sees it, and the base of the server object.
//
// The server object (core/vemba_server.h) is one object with a layer for each folder
// of the server: this class, then HttpContext, LibraryContext, StreamingContext,
// ConversionContext and RemoteContext, each deriving from the one below, and the
// server object itself on top. A handler or a part of one folder receives the server
// as its own folder's context: it reaches what that folder and the folders below own,
// never what lies above. Construction runs from this layer up and destruction from
// the top down, so every part outlives the parts that use it.
//
// This layer holds the parts the server was made from (settings, places, clock,
// spawner), the language table, the census of running engines, and the notice queue:
// the one thread on which engine notices reach their owners (sessions, conversion
// jobs), since an engine's pipe reader may not stop that engine itself.

#include "config/server_parts.h"
#include "config/texts.h"
#include "enginectl/encoder.h"
#include "enginectl/engine_census.h"
#include "enginectl/engine_pipe.h"
#include "platform/task_queue.h"

class EngineContext {
public:
    explicit EngineContext(ServerParts parts);
    virtual ~EngineContext();
    EngineContext(const EngineContext&) = delete;
    EngineContext& operator=(const EngineContext&) = delete;

    SettingsStore& Settings() const { return *m_parts.settings; }
    const ServerPlaces& Places() const { return m_parts.places; }
    const TextTable& Texts() const { return m_texts; }
    TextTable& Texts() { return m_texts; }
    Clock& Time() const { return *m_parts.clock; }
    const std::shared_ptr<ProcessSpawner>& Spawner() const { return m_parts.spawner; }
    const std::string& ShutdownCommand() const { return m_parts.shutdownCommand; }
    EngineCensus& Census() { return m_census; }
    // What an engine of this server is started with.
    EngineLaunch Launch();
    // Where engine notices are handled; posts after StopNotices are dropped.
    TaskQueue& Notices() { return m_notices; }
    // Ends the notice thread (the first step of taking a server down, so no notice
    // reaches a part that is going).
    void StopNotices() { m_notices.Stop(); }

private:
    const ServerParts m_parts;
    TextTable m_texts;
    EngineCensus m_census;
    EnginePipeFolder m_pipes;
    TaskQueue m_notices; // last: its thread ends before the rest goes
};
