#include "conversion_queue.h"

#include "config/settings.h"
#include "platform/guid.h"

#include <algorithm>
#include <filesystem>

std::string ConversionOutputPath(
    const std::string& source, const std::function<bool(const std::string&)>& taken)
{
    std::string folder = GetFolderOf(source);
    std::string base = GetFileTitleOf(source);
    auto inUse
        = [&](const std::string& name) { return FileExists(name) || (taken && taken(name)); };
    std::string output = folder + "/" + base + "-vembacast.m4v";
    for (int number = 2; inUse(output); ++number)
        output = folder + "/" + base + "-vembacast (" + std::to_string(number) + ").m4v";
    return output;
}

std::vector<ConversionRow> CLocalConversionQueue::Rows() const
{
    std::lock_guard lock(m_lock);
    return m_rows;
}

bool CLocalConversionQueue::AddLocalFile(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return false;
    std::optional<Guid> guid = CreateGuid();
    if (!guid)
        return false;
    {
        std::lock_guard lock(m_lock);
        ConversionRow row;
        row.convertId = GuidToHex(*guid);
        row.sourcePath = path;
        // A second drop of the same file gets its own output name, not the first one's.
        row.outputPath = ConversionOutputPath(path, [this](const std::string& name) {
            return std::any_of(m_rows.begin(), m_rows.end(),
                [&](const ConversionRow& other) { return other.outputPath == name; });
        });
        m_rows.push_back(std::move(row));
    }
    Notify();
    return true;
}

void CLocalConversionQueue::Cancel(const std::string& convertId)
{
    Update(convertId, -1, kConvCancelled);
}

void CLocalConversionQueue::RemoveCompleted()
{
    {
        std::lock_guard lock(m_lock);
        std::erase_if(m_rows, [](const ConversionRow& row) { return row.state == kConvComplete; });
    }
    Notify();
}

void CLocalConversionQueue::SetObserver(std::function<void()> changed)
{
    std::lock_guard lock(m_lock);
    m_changed = std::move(changed);
}

bool CLocalConversionQueue::Update(const std::string& convertId, int progress, int state)
{
    {
        std::lock_guard lock(m_lock);
        auto row = std::find_if(m_rows.begin(), m_rows.end(),
            [&](const ConversionRow& candidate) { return candidate.convertId == convertId; });
        if (row == m_rows.end())
            return false;
        if (progress >= 0)
            row->progress = std::clamp(progress, 0, 100);
        row->state = state;
    }
    Notify();
    return true;
}

void CLocalConversionQueue::Notify()
{
    std::function<void()> changed;
    {
        std::lock_guard lock(m_lock);
        changed = m_changed;
    }
    if (changed)
        changed(); // outside the lock: the observer may read the rows
}
