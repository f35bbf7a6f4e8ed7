#include "library/direct_play_table.h"

#include "http/web_server.h"
#include "library/media_properties.h"
#include "library/request_paths.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

namespace {

struct DirectPlayTable {
    std::mutex lock;
    std::map<std::string, unsigned> numbers; // guarded by lock
    std::vector<std::string> paths; // guarded by lock; number n at index n - 1
};

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
    if (found != table.numbers.end())
        return found->second;
    table.paths.push_back(filePath);
    auto number = static_cast<unsigned>(table.paths.size());
    table.numbers.emplace(filePath, number);
    return number;
}

std::string FindDirectPlayPath(unsigned number)
{
    DirectPlayTable& table = Table();
    std::lock_guard guard(table.lock);
    if (number == 0 || number > table.paths.size())
        return std::string();
    return table.paths[number - 1];
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
