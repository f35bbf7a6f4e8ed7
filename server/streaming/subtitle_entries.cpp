#include "streaming/subtitle_entries.h"

#include "config/trace.h"
#include "streaming/subtitle_cues.h"
#include "streaming/subtitle_script.h"

#include <algorithm>

namespace {

std::string OverlayText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\N";
        else
            out += c;
    }
    return out;
}

} // namespace

std::vector<SubtitleEntry> ReadSubtitleEntries(const std::string& localVideoPath)
{
    const std::string sami = FindSamiFileFor(localVideoPath);
    if (sami.empty())
        return {};
    std::optional<std::vector<SubtitleCue>> cues = ReadSubtitleCues(sami, "KR");
    if (!cues)
        return {};
    std::vector<SubtitleEntry> starts;
    std::vector<SubtitleEntry> ends;
    for (const SubtitleCue& cue : *cues) {
        starts.push_back({ cue.startMs, OverlayText(cue.text) });
        ends.push_back({ cue.endMs, {} });
    }
    std::vector<SubtitleEntry> entries = starts;
    std::vector<int32_t> startTimes;
    for (const SubtitleEntry& start : starts)
        startTimes.push_back(start.startMs);
    std::sort(startTimes.begin(), startTimes.end());
    // A line's end clears it only where no other line starts at that moment.
    for (const SubtitleEntry& end : ends) {
        if (!std::binary_search(startTimes.begin(), startTimes.end(), end.startMs))
            entries.push_back(end);
    }
    std::stable_sort(entries.begin(), entries.end(),
        [](const SubtitleEntry& a, const SubtitleEntry& b) { return a.startMs < b.startMs; });
    TraceMessage(kTraceSubtitleTime, " - overlay entries: %zu", entries.size());
    return entries;
}
