#include "streaming/running_engines.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

struct EncSessionList {
    std::mutex lock;
    std::vector<int> pids; // guarded by lock
};

EncSessionList& EncSessions()
{
    static EncSessionList list;
    return list;
}

} // namespace

void AddEncSession(int pid)
{
    EncSessionList& list = EncSessions();
    std::lock_guard guard(list.lock);
    list.pids.push_back(pid);
}

bool RemoveEncSession(int pid)
{
    EncSessionList& list = EncSessions();
    std::lock_guard guard(list.lock);
    auto found = std::find(list.pids.begin(), list.pids.end(), pid);
    if (found == list.pids.end())
        return false;
    list.pids.erase(found);
    return true;
}

size_t CountEncSessions()
{
    EncSessionList& list = EncSessions();
    std::lock_guard guard(list.lock);
    return list.pids.size();
}
