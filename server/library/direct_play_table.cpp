#include "library/direct_play_table.h"

#include "http/client_urls.h"
#include "library/library_context.h"
#include "library/media_properties.h"
#include "library/request_paths.h"

#include <cstdio>

namespace {

void RemoveAll(std::string& text, const std::string& part)
{
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos))
        text.erase(pos, part.size());
}

} // namespace

void DirectPlayTable::MarkUsed(Entry& entry)
{
    m_useOrder.splice(m_useOrder.begin(), m_useOrder, entry.use);
}

void DirectPlayTable::EvictLeastRecentlyUsed()
{
    unsigned oldest = m_useOrder.back();
    m_useOrder.pop_back();
    auto found = m_entries.find(oldest);
    m_numbers.erase(found->second.path);
    m_entries.erase(found);
}

unsigned DirectPlayTable::GetDirectPlayNumber(const std::string& filePath)
{
    std::lock_guard guard(m_lock);
    auto found = m_numbers.find(filePath);
    if (found != m_numbers.end()) {
        MarkUsed(m_entries.at(found->second));
        return found->second;
    }
    if (m_entries.size() >= kDirectPlayCapacity)
        EvictLeastRecentlyUsed();
    unsigned number = ++m_lastNumber;
    m_useOrder.push_front(number);
    m_entries.emplace(number, Entry { filePath, m_useOrder.begin() });
    m_numbers.emplace(filePath, number);
    return number;
}

std::string DirectPlayTable::FindDirectPlayPath(unsigned number)
{
    std::lock_guard guard(m_lock);
    auto found = m_entries.find(number);
    if (found == m_entries.end())
        return std::string();
    MarkUsed(found->second);
    return found->second.path;
}

size_t DirectPlayTable::DirectPlayEntryCount() const
{
    std::lock_guard guard(m_lock);
    return m_entries.size();
}

std::string MakeDirectPlayUrl(
    LibraryContext& server, const std::string& host, const std::string& filePath)
{
    unsigned number = server.DirectPlay().GetDirectPlayNumber(filePath);
    return RootUrl(host, server.ExtPort()) + "/playdirect/file-" + std::to_string(number) + ".m4v";
}

std::string ResolveDirectPlayUri(LibraryContext& server, const std::string& uri)
{
    std::string rest = uri;
    RemoveAll(rest, "/playdirect/");
    RemoveAll(rest, "file-");
    RemoveAll(rest, ".m4v");
    rest = DecodePathValue(rest);
    int64_t number = ParseLeadingInteger(rest);
    if (number <= 0 || number > UINT32_MAX)
        return std::string();
    return server.DirectPlay().FindDirectPlayPath(static_cast<unsigned>(number));
}
