// "/subtitle": the overlay bitmap of the current subtitle line of a conversion job
// or a live session (streaming/subtitle_overlay.h), through the server's record
// cache (subtitle_record_cache.h).

#include "config/trace.h"
#include "conversion/conversion_context.h"
#include "conversion/request_handlers.h"
#include "http/request.h"
#include "streaming/subtitle_overlay.h"

#include <cstdlib>

namespace {

// Screens beyond this are taken as this: the overlay is never drawn larger.
constexpr long kMaxScreenSide = 8192;

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

void OnNotifySubtitle(ConversionContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifySubtitle", request.QueryString(), kTraceSubtitleNotice);
    char id[41] = {};
    CopyRequestVar(request, "id", id);
    const long time = NumberVar(request, "time", 10, 0);
    const long width = std::clamp(NumberVar(request, "width", 10, 0), 0L, kMaxScreenSide);
    const long height = std::clamp(NumberVar(request, "height", 10, 0), 0L, kMaxScreenSide);
    TraceMessage(kTraceSubtitleNotice, " - subtitle time: %ld ", time);
    std::shared_ptr<CommonInfo_t> record
        = id[0] ? server.SubtitleRecords().FindRecord(server, id) : nullptr;
    if (!record) {
        request.Write(EmptyOverlayAnswer());
        return;
    }
    server.SubtitleRecords().FillEntries(server.SharedFolders(), *record);
    request.Write(server.Overlayer().Answer(
        *record, time, static_cast<int>(width), static_cast<int>(height)));
}
