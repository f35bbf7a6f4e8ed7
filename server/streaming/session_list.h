#pragma once

// The session list of one server.
//
// Sessions are added by "/connect" in the order clients connect. Two sessions may
// carry one id: finding always returns the earlier. Lookups by id are hashed. A
// session that has had no engine and no request for kSessionIdleLife (on the server's
// clock) is released when the next client connects; its id stays known to the
// client ids (http/client_ids.h), which outlive sessions. So are the least recently
// used idle sessions beyond kMaxSessions. The list is released as a whole at server stop and exit.
//
// Threads: HTTP workers add and search at once; the list has its own lock, which is
// never held while an engine is started or stopped or a session is released.

#include "streaming/client_info.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

class StreamingContext;

inline constexpr std::chrono::hours kSessionIdleLife { 12 };
// At most this many sessions are kept: a new connection beyond it releases the least
// recently used sessions without an engine first, so a flood of "/connect" cannot
// grow the list without bound. A home has a handful of clients.
inline constexpr size_t kMaxSessions = 4096;

class SessionList {
public:
    explicit SessionList(StreamingContext& server);
    SessionList(const SessionList&) = delete;
    SessionList& operator=(const SessionList&) = delete;

    // Adds a new idle session with this id (no check for an existing one) and returns
    // it, after releasing the sessions that have been left alone too long.
    std::shared_ptr<ClientInfo> QZ_AddClientInfo(const std::string& clientId);

    // The first session with exactly this id, or null. Counts as a request of it.
    std::shared_ptr<ClientInfo> QZ_FindClientInfo(const std::string& clientId);
    int QZ_IsClientInfo(const std::string& clientId);

    // Replaces each non-empty value in the session of this id (the path decoded first)
    // and traces the session. An unknown id changes nothing.
    void QZ_EditClientInfo(const std::string& clientId, const std::string& path,
        const std::string& width, const std::string& height, const std::string& osType,
        const std::string& connType);

    // Releases the sessions without an engine that no request has named for
    // kSessionIdleLife (their ids stay: http/client_ids.h). The number released.
    size_t ReleaseIdleSessions();

    // Stops every session's engine, the watcher thread, and releases the whole list.
    void QZ_FreeClientInfoList();

    // The sessions in list order.
    std::vector<std::shared_ptr<ClientInfo>> GetClientInfoList() const;

private:
    std::vector<std::shared_ptr<ClientInfo>> TakeForgotten(
        std::chrono::steady_clock::time_point now);

    StreamingContext& m_server;
    mutable std::mutex m_lock;
    // --- guarded by m_lock
    std::vector<std::shared_ptr<ClientInfo>> m_ordered; // in connection order
    // the sessions of each id, earliest first
    std::unordered_map<std::string, std::vector<std::shared_ptr<ClientInfo>>> m_byId;
};

// 1 while fewer engines run than "MaxLIveClient" allows (default 4), else 0.
int QZ_IsLiveClientRoom(StreamingContext& server);
// The same for a play request of session: its own engine, which the play stops,
// does not count.
int QZ_IsLiveClientRoomFor(StreamingContext& server, ClientInfo& session);
