#pragma once

// Client ids and the hosts clients connected under.
//
// "/connect" gives every client a fresh id (32 upper-case hexadecimal digits) and
// records the host of that request, so answers that point a client back at this
// server keep using the address it first connected to. Handlers on many threads
// insert and look up at once; the map has its own lock and is hashed by id.
//
// An id stays valid from any address (phones roam) until it has not been used for 30
// days; a browser keeps it that long in its cookie. The map holds a bounded number of
// ids: past it, the one used least recently goes.

#include "platform/guid.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

class ClientIds {
public:
    using GuidSource = std::function<std::optional<Guid>()>;
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;

    static constexpr std::chrono::hours kIdLife { 24 * 30 };
    static constexpr size_t kMaxIds = 4096;

    explicit ClientIds(Clock clock = [] { return std::chrono::steady_clock::now(); });
    ClientIds(const ClientIds&) = delete;
    ClientIds& operator=(const ClientIds&) = delete;

    // A new client id in id; 1 on success, 0 when no GUID could be made (id left as
    // it was).
    int MakeGUID(std::string& id);
    // The same, empty text on failure (the form conversion ids use).
    std::string MakeGUID();
    // Tests make GUID creation fail; an empty function restores the real source.
    void SetGuidSourceForTesting(GuidSource source);

    void SetClientHost(const std::string& clientId, const std::string& host);
    // The host the client connected under, or nothing for an unknown (or expired) id.
    // Finding an id counts as a use of it.
    std::optional<std::string> FindClientHost(const std::string& clientId);
    void ForgetClientHost(const std::string& clientId);
    size_t ClientHostCount() const;

private:
    struct Entry {
        std::string host;
        TimePoint lastUse;
    };
    std::optional<Guid> NewGuid();
    void ForgetExpired(TimePoint now);
    void ForgetLeastRecentlyUsed();

    Clock m_clock;
    mutable std::mutex m_lock;
    // --- guarded by m_lock
    GuidSource m_guidSource;
    std::unordered_map<std::string, Entry> m_hosts;
    TimePoint m_lastSweep {};
};
