// "/subtitle": the overlay bitmap of the current subtitle line of a conversion job
// or a live session (streaming/subtitle_overlay.h). The record of the last id asked
// for is cached; its entries are read from the SAMI file beside its video the first
// time they are needed, and again after the session released them.

#include "config/trace.h"
#include "conversion/convert_list.h"
#include "conversion/request_handlers.h"
#include "http/request.h"
#include "library/request_paths.h"
#include "streaming/session_list.h"
#include "streaming/subtitle_entries.h"
#include "streaming/subtitle_overlay.h"

#include <cstdlib>
#include <mutex>

namespace {

// Screens beyond this are taken as this: the overlay is never drawn larger.
constexpr long kMaxScreenSide = 8192;

struct OverlayRecordCache {
    std::mutex lock;
    std::string id; // guarded by lock
    std::weak_ptr<CommonInfo_t> record; // guarded by lock
    std::string loadedPath; // guarded by lock: the file whose entries were read last
    bool loadedAny = false; // guarded by lock: that reading gave entries
};

OverlayRecordCache& RecordCache()
{
    static OverlayRecordCache cache;
    return cache;
}

std::shared_ptr<CommonInfo_t> LookUpRecord(const std::string& id)
{
    for (const ConvertJobPtr& job : ReadConvertQueue()) {
        if (job->strConvertID == id)
            return job;
    }
    return QZ_FindClientInfo(id);
}

std::shared_ptr<CommonInfo_t> FindRecord(const std::string& id)
{
    OverlayRecordCache& cache = RecordCache();
    {
        std::lock_guard lock(cache.lock);
        if (cache.id == id) {
            if (auto record = cache.record.lock())
                return record;
        }
    }
    std::shared_ptr<CommonInfo_t> record = LookUpRecord(id); // waits on the queue: unlocked
    std::lock_guard lock(cache.lock);
    cache.id = id;
    cache.record = record;
    cache.loadedPath.clear();
    cache.loadedAny = false;
    return record;
}

// Fills the record's entries from the SAMI file beside its video when it has none,
// unless that file was read already and gave nothing.
void FillEntries(CommonInfo_t& record)
{
    if (record.SubtitleCount() != 0)
        return;
    const std::string path = record.FilePath();
    OverlayRecordCache& cache = RecordCache();
    {
        std::lock_guard lock(cache.lock);
        if (cache.loadedPath == path && !cache.loadedAny)
            return;
    }
    const RequestPathMapping mapping = MapDecodedRequestPath(path, RequestPathKind::File);
    std::vector<SubtitleEntry> entries;
    if (mapping.status == RequestPathStatus::Mapped)
        entries = ReadSubtitleEntries(mapping.diskPath);
    const bool any = !entries.empty();
    record.nSubtitleIndex = 0;
    record.SetSubtitleEntries(std::move(entries));
    std::lock_guard lock(cache.lock);
    cache.loadedPath = path;
    cache.loadedAny = any;
}

long NumberVar(const HttpRequest& request, const char* name, size_t maxLength, long fallback)
{
    char buffer[16] = {};
    if (!CopyRequestVar(request, name, buffer, std::min(sizeof buffer, maxLength + 1)))
        return fallback;
    char* end = nullptr;
    long value = std::strtol(buffer, &end, 10);
    return end == buffer ? fallback : value;
}

} // namespace

void OnNotifySubtitle(HttpRequest& request)
{
    HandlerTrace trace("OnNotifySubtitle", request.QueryString(), kTraceSubtitleNotice);
    char id[41] = {};
    CopyRequestVar(request, "id", id);
    const long time = NumberVar(request, "time", 10, 0);
    const long width = std::clamp(NumberVar(request, "width", 10, 0), 0L, kMaxScreenSide);
    const long height = std::clamp(NumberVar(request, "height", 10, 0), 0L, kMaxScreenSide);
    TraceMessage(kTraceSubtitleNotice, " - subtitle time: %ld ", time);
    std::shared_ptr<CommonInfo_t> record = id[0] ? FindRecord(id) : nullptr;
    if (!record) {
        request.Write(EmptyOverlayAnswer());
        return;
    }
    FillEntries(*record);
    request.Write(SubtitleOverlayer().Answer(
        *record, time, static_cast<int>(width), static_cast<int>(height)));
}
