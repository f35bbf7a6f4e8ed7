#include "library/list_file_book.h"

#include <algorithm>

ListFileBook::ListFileBook(Clock clock, ListFileLimits limits)
    : m_clock(std::move(clock))
    , m_limits(limits)
{
}

bool ListFileBook::Enter(const std::string& client, const std::string& name,
    std::vector<std::string>& doomed, const std::string& ownerId)
{
    const auto now = m_clock();
    std::lock_guard lock(m_lock);
    while (!m_entries.empty() && now - m_entries.front().made >= m_limits.lifetime) {
        doomed.push_back(std::move(m_entries.front().name));
        m_entries.pop_front();
    }
    if (m_limits.perClient == 0)
        return false;
    auto ofClient = [&](const Entry& entry) { return entry.client == client; };
    if (static_cast<size_t>(std::count_if(m_entries.begin(), m_entries.end(), ofClient))
        >= m_limits.perClient) {
        auto oldest = std::find_if(m_entries.begin(), m_entries.end(), ofClient);
        doomed.push_back(std::move(oldest->name));
        m_entries.erase(oldest);
    }
    if (m_entries.size() >= m_limits.total)
        return false;
    m_entries.push_back({ client, name, ownerId, now });
    return true;
}

bool ListFileBook::Remove(const std::string& name)
{
    std::lock_guard lock(m_lock);
    auto found = std::find_if(
        m_entries.begin(), m_entries.end(), [&](const Entry& entry) { return entry.name == name; });
    if (found == m_entries.end())
        return false;
    m_entries.erase(found);
    return true;
}

std::optional<std::string> ListFileBook::OwnerOf(const std::string& name) const
{
    std::lock_guard lock(m_lock);
    auto found = std::find_if(
        m_entries.begin(), m_entries.end(), [&](const Entry& entry) { return entry.name == name; });
    if (found == m_entries.end())
        return std::nullopt;
    return found->ownerId;
}

void ListFileBook::Clear()
{
    std::lock_guard lock(m_lock);
    m_entries.clear();
}

size_t ListFileBook::Count() const
{
    std::lock_guard lock(m_lock);
    return m_entries.size();
}
