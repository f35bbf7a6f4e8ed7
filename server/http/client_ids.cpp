#include "http/client_ids.h"

#include <mutex>
#include <unordered_map>

namespace {

std::mutex g_guidSourceLock;
std::function<std::optional<Guid>()> g_guidSource; // guarded by g_guidSourceLock

struct ClientHostMap {
    std::mutex lock;
    std::unordered_map<std::string, std::string> hosts; // guarded by lock
};

ClientHostMap& Hosts()
{
    static ClientHostMap map;
    return map;
}

std::optional<Guid> NewGuid()
{
    std::function<std::optional<Guid>()> source;
    {
        std::lock_guard guard(g_guidSourceLock);
        source = g_guidSource;
    }
    return source ? source() : CreateGuid();
}

} // namespace

int MakeGUID(std::string& id)
{
    std::optional<Guid> guid = NewGuid();
    if (!guid)
        return 0;
    id = GuidToHex(*guid);
    return 1;
}

std::string MakeGUID()
{
    std::string id;
    return MakeGUID(id) ? id : std::string();
}

void SetGuidSourceForTesting(std::function<std::optional<Guid>()> source)
{
    std::lock_guard guard(g_guidSourceLock);
    g_guidSource = std::move(source);
}

void SetClientHost(const std::string& clientId, const std::string& host)
{
    ClientHostMap& map = Hosts();
    std::lock_guard guard(map.lock);
    map.hosts[clientId] = host;
}

std::optional<std::string> FindClientHost(const std::string& clientId)
{
    ClientHostMap& map = Hosts();
    std::lock_guard guard(map.lock);
    auto found = map.hosts.find(clientId);
    if (found == map.hosts.end())
        return std::nullopt;
    return found->second;
}

void ForgetClientHost(const std::string& clientId)
{
    ClientHostMap& map = Hosts();
    std::lock_guard guard(map.lock);
    map.hosts.erase(clientId);
}

size_t ClientHostCount()
{
    ClientHostMap& map = Hosts();
    std::lock_guard guard(map.lock);
    return map.hosts.size();
}
