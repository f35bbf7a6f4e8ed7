#include "dlna/srt_document.h"

#include <cstdio>

namespace {

std::string SrtTime(int64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld,%03lld",
        static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
        static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

} // namespace

std::string MakeSrtDocument(const std::vector<SubtitleEntry>& entries)
{
    std::string document;
    int number = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string text = entries[i].text;
        if (text.empty())
            continue; // an entry without text only clears the line before
        const int64_t start = entries[i].startMs;
        const int64_t end = i + 1 < entries.size() ? entries[i + 1].startMs : start + 5000;
        if (end <= start)
            continue;
        ReplaceAll(text, "\\N", "\n");
        document += std::to_string(++number) + "\n" + SrtTime(start) + " --> " + SrtTime(end) + "\n"
            + text + "\n\n";
    }
    return document;
}
