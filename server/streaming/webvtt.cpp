#include "streaming/webvtt.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string EscapedLine(const std::string& line)
{
    std::string out;
    for (char c : line) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\t':
            out += ' ';
            break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20 || c < 0)
                out += c;
        }
    }
    return out;
}

std::string CueText(const std::string& text)
{
    std::string out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = EscapedLine(text.substr(start, end - start));
        const bool blank = line.find_first_not_of(' ') == std::string::npos;
        if (!blank)
            out += line + "\n";
        start = end + 1;
    }
    return out;
}

} // namespace

std::string WebVttClock(int64_t ms)
{
    if (ms < 0)
        ms = 0;
    char clock[48];
    std::snprintf(clock, sizeof clock, "%02lld:%02lld:%02lld.%03lld",
        static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
        static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return clock;
}

std::string MakeWebVtt(std::vector<SubtitleCue> cues)
{
    std::stable_sort(cues.begin(), cues.end(),
        [](const SubtitleCue& a, const SubtitleCue& b) { return a.startMs < b.startMs; });
    std::string out = "WEBVTT\n\n";
    for (const SubtitleCue& cue : cues) {
        const std::string text = CueText(cue.text);
        if (text.empty() || cue.startMs < 0)
            continue;
        // A cue must not end before it starts.
        const int64_t end = std::max<int64_t>(cue.endMs, int64_t(cue.startMs) + 1);
        out += WebVttClock(cue.startMs) + " --> " + WebVttClock(end) + "\n" + text + "\n";
    }
    return out;
}
