#include "conversion/subtitle_record_cache.h"

#include "conversion/conversion_context.h"
#include "library/request_paths.h"
#include "streaming/subtitle_entries.h"

namespace {

std::shared_ptr<CommonInfo_t> LookUpRecord(ConversionContext& server, const std::string& id)
{
    for (const ConvertJobPtr& job : server.ConvertQueue().Jobs()) {
        if (job->strConvertID == id)
            return job;
    }
    return server.Sessions().QZ_FindClientInfo(id);
}

} // namespace

std::shared_ptr<CommonInfo_t> SubtitleRecordCache::FindRecord(
    ConversionContext& server, const std::string& id)
{
    {
        std::lock_guard lock(m_lock);
        if (m_id == id) {
            if (auto record = m_record.lock())
                return record;
        }
    }
    std::shared_ptr<CommonInfo_t> record = LookUpRecord(server, id);
    std::lock_guard lock(m_lock);
    m_id = id;
    m_record = record;
    m_loadedPath.clear();
    m_loadedAny = false;
    return record;
}

void SubtitleRecordCache::FillEntries(const SharedFolderList& shares, CommonInfo_t& record)
{
    if (record.SubtitleCount() != 0)
        return;
    const std::string path = record.FilePath();
    {
        std::lock_guard lock(m_lock);
        if (m_loadedPath == path && !m_loadedAny)
            return;
    }
    const RequestPathMapping mapping = MapDecodedRequestPath(shares, path, RequestPathKind::File);
    std::vector<SubtitleEntry> entries;
    if (mapping.status == RequestPathStatus::Mapped)
        entries = ReadSubtitleEntries(mapping.diskPath);
    const bool any = !entries.empty();
    record.nSubtitleIndex = 0;
    record.SetSubtitleEntries(std::move(entries));
    std::lock_guard lock(m_lock);
    m_loadedPath = path;
    m_loadedAny = any;
}
