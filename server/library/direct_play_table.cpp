#include "library/direct_play_table.h"

#include "http/web_server.h"
#include "library/media_properties.h"
#include "library/request_paths.h"

#include <cstdio>
#include <list>
#include <mutex>
#include <unordered_map>

namespace {

struct DirectPlayEntry {
    std::string path;
    std::list<unsigned>::iterator use; // its place in the use order
};

struct DirectPlayTable {
    std::mutex lock;
    std::unordered_map<std::string, unsigned> numbers; // guarded by lock
    std::unordered_map<unsigned, DirectPlayEntry> entries; // guarded by lock
    std::list<unsigned> useOrder; // guarded by lock; most recently used first
    unsigned lastNumber = 0; // guarded by lock
};

void MarkUsed(DirectPlayTable& table, DirectPlayEntry& entry)
{
    table.useOrder.splice(table.useOrder.begin(), table.useOrder, entry.use);
}

void EvictLeastRecentlyUsed(DirectPlayTable& table)
{
    unsigned oldest = table.useOrder.back();
    table.useOrder.pop_back();
    auto found = table.entries.find(oldest);
    table.numbers.erase(found->second.path);
    table.entries.erase(found);
}

DirectPlayTable& Table()
{
    static DirectPlayTable table;
    return table;
}

void RemoveAll(std::string& text, const std::string& part)
{
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos))
        text.erase(pos, part.size());
}

} // namespace

unsigned GetDirectPlayNumber(const std::string& filePath)
{
    DirectPlayTable& table = Table();
    std::lock_guard guard(table.lock);
    auto found = table.numbers.find(filePath);
    if (found != table.numbers.end()) {
        MarkUsed(table, table.entries.at(found->second));
        return found->second;
    }
    if (table.entries.size() >= kDirectPlayCapacity)
        EvictLeastRecentlyUsed(table);
    unsigned number = ++table.lastNumber;
    table.useOrder.push_front(number);
    table.entries.emplace(number, DirectPlayEntry { filePath, table.useOrder.begin() });
    table.numbers.emplace(filePath, number);
    return number;
}

std::string FindDirectPlayPath(unsigned number)
{
    DirectPlayTable& table = Table();
    std::lock_guard guard(table.lock);
    auto found = table.entries.find(number);
    if (found == table.entries.end())
        return std::string();
    MarkUsed(table, found->second);
    return found->second.path;
}

size_t DirectPlayEntryCount()
{
    DirectPlayTable& table = Table();
    std::lock_guard guard(table.lock);
    return table.entries.size();
}

std::string MakeDirectPlayUrl(const std::string& host, const std::string& filePath)
{
    unsigned number = GetDirectPlayNumber(filePath);
    char tail[64];
    std::snprintf(tail, sizeof(tail), ":%u/playdirect/file-%u.m4v",
        static_cast<unsigned>(g_nExtPort.load()), number);
    return "http://" + host + tail;
}

std::string ResolveDirectPlayUri(const std::string& uri)
{
    std::string rest = uri;
    RemoveAll(rest, "/playdirect/");
    RemoveAll(rest, "file-");
    RemoveAll(rest, ".m4v");
    rest = DecodePathValue(rest);
    int64_t number = ParseLeadingInteger(rest);
    if (number <= 0 || number > UINT32_MAX)
        return std::string();
    return FindDirectPlayPath(static_cast<unsigned>(number));
}
