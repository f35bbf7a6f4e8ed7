#include "streaming/subtitle_entries.h"

#include "config/trace.h"
#include "library/text_codec.h"
#include "streaming/subtitle_script.h"
#include "subvoro/subvoro.h"

#include <algorithm>
#include <iconv.h>

namespace {

// Text the converter gives in the Korean code page is turned into UTF-8; text that
// is neither becomes U+FFFD where it is broken.
std::string ToUtf8(const std::string& text)
{
    if (textcodec::IsValidUtf8(text))
        return text;
    iconv_t cd = iconv_open("UTF-8", "CP949");
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        std::string out(text.size() * 3 + 4, '\0');
        char* in = const_cast<char*>(text.data());
        size_t inLeft = text.size();
        char* to = out.data();
        size_t outLeft = out.size();
        const size_t done = iconv(cd, &in, &inLeft, &to, &outLeft);
        iconv_close(cd);
        if (done != static_cast<size_t>(-1) && inLeft == 0) {
            out.resize(out.size() - outLeft);
            return out;
        }
    }
    return textcodec::WideToUtf8(textcodec::Utf8ToWide(text));
}

std::string OverlayText(const char* raw)
{
    std::string text = ToUtf8(raw);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r')
            continue;
        if (text[i] == '\n')
            out += "\\N";
        else
            out += text[i];
    }
    return out;
}

} // namespace

std::vector<SubtitleEntry> ReadSubtitleEntries(const std::string& localVideoPath)
{
    const std::string sami = FindSamiFileFor(localVideoPath);
    if (sami.empty())
        return {};
    CSubvoroter converter;
    converter.SetSamiLang("KR");
    if (converter.SubFileOpen(sami) != QZSUB_OK)
        return {};
    SubtitleList_t list;
    if (!converter.SubFileSaveAs(&list, EXTSRT))
        return {};
    std::vector<SubtitleEntry> starts;
    std::vector<SubtitleEntry> ends;
    for (int i = 0; i + 1 < list.nCount; i += 2) {
        if (!list.pItems[i].pszText)
            continue;
        starts.push_back({ list.pItems[i].nTime, OverlayText(list.pItems[i].pszText) });
        ends.push_back({ list.pItems[i + 1].nTime, {} });
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
