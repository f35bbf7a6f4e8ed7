#pragma once

// Client ids and the hosts clients connected under.
//
// "/connect" gives every client a fresh id (32 upper-case hexadecimal digits) and
// records the host of that request, so answers that point a client back at this
// server keep using the address it first connected to. Handlers on many threads
// insert and look up at once; the map has its own lock and is hashed by id. An
// entry lives as long as the client's session: releasing the session forgets it.

#include "platform/guid.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

class ClientIds {
public:
    using GuidSource = std::function<std::optional<Guid>()>;

    ClientIds() = default;
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
    // The host the client connected under, or nothing for an unknown id.
    std::optional<std::string> FindClientHost(const std::string& clientId) const;
    void ForgetClientHost(const std::string& clientId);
    size_t ClientHostCount() const;

private:
    std::optional<Guid> NewGuid();

    mutable std::mutex m_lock;
    // --- guarded by m_lock
    GuidSource m_guidSource;
    std::unordered_map<std::string, std::string> m_hosts;
};
