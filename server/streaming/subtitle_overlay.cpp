#include "streaming/subtitle_overlay.h"

#include <algorithm>

namespace {

void PutWord(std::string& out, uint32_t word)
{
    out += static_cast<char>(word >> 24);
    out += static_cast<char>(word >> 16);
    out += static_cast<char>(word >> 8);
    out += static_cast<char>(word);
}

// The index of the last entry before cursor that starts at or before timeMs, or the
// first entry when none has started yet (so a seek back to the beginning shows the
// first line again when its time comes).
int LastStartedBefore(const std::vector<SubtitleEntry>& entries, int cursor, int64_t timeMs)
{
    int found = 0;
    for (int index = 0; index < cursor; ++index) {
        if (entries[index].startMs <= timeMs)
            found = index;
    }
    return found;
}

bool IsBlankText(const std::string& text)
{
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

} // namespace

OverlayStep StepSubtitleCursor(
    const std::vector<SubtitleEntry>& entries, int& cursor, int64_t timeMs)
{
    const int count = static_cast<int>(entries.size());
    if (cursor < 0)
        cursor = 0;
    if (cursor >= count)
        return {};
    if (timeMs < entries[cursor].startMs) {
        if (cursor > 0 && timeMs < entries[cursor - 1].startMs)
            cursor = LastStartedBefore(entries, cursor, timeMs);
        return { OverlayForm::Waiting, static_cast<uint32_t>(entries[cursor].startMs), 0 };
    }
    if (cursor + 1 < count && entries[cursor + 1].startMs < timeMs) {
        while (cursor + 1 < count && entries[cursor + 1].startMs <= timeMs)
            ++cursor;
        if (cursor == count - 1 && entries[cursor].startMs < timeMs)
            return {}; // every later entry has started: nothing current to show
    }
    if (IsBlankText(entries[cursor].text))
        return {};
    const size_t shown = static_cast<size_t>(cursor);
    ++cursor;
    const uint32_t next
        = cursor < count ? static_cast<uint32_t>(entries[cursor].startMs) : kNoNextSubtitle;
    return { OverlayForm::Bitmap, next, shown };
}

std::vector<std::string> BreakSubtitleLines(
    const std::string& text, int maxWidth, const std::function<int(const std::string&)>& measure)
{
    std::vector<std::string> pieces;
    size_t from = 0;
    for (;;) {
        size_t mark = text.find("\\N", from);
        pieces.push_back(
            text.substr(from, mark == std::string::npos ? std::string::npos : mark - from));
        if (mark == std::string::npos)
            break;
        from = mark + 2;
    }
    std::vector<std::string> lines;
    for (std::string rest : pieces) {
        while (measure(rest) > maxWidth) {
            // Estimate the cut from the width ratio, then move back to a blank that
            // fits; a line without one stays whole.
            const int width = std::max(1, measure(rest));
            size_t estimate = static_cast<size_t>(
                static_cast<double>(rest.size()) * std::max(0, maxWidth) / width);
            size_t blank = rest.rfind(' ', std::min(estimate, rest.size() - 1));
            while (blank != std::string::npos && blank > 0
                && measure(rest.substr(0, blank)) > maxWidth)
                blank = rest.rfind(' ', blank - 1);
            if (blank == std::string::npos || blank == 0)
                break;
            lines.push_back(rest.substr(0, blank));
            rest.erase(0, rest.find_first_not_of(' ', blank));
            if (rest.find_first_not_of(' ') == std::string::npos) {
                rest.clear();
                break;
            }
        }
        lines.push_back(rest);
    }
    return lines;
}

int OverlayX(int screenWidth, int bitmapWidth)
{
    return std::max(0, (screenWidth - bitmapWidth) / 2);
}

int OverlayY(int screenHeight, int bitmapHeight)
{
    const int y = screenHeight - bitmapHeight - 10;
    return y > 0 ? y : 0;
}

std::string EmptyOverlayAnswer()
{
    std::string out;
    PutWord(out, 0);
    PutWord(out, 0);
    return out;
}

std::string WaitingOverlayAnswer(uint32_t startMs)
{
    std::string out;
    PutWord(out, startMs);
    PutWord(out, 0);
    return out;
}

std::string BitmapOverlayAnswer(
    uint32_t nextStartMs, int screenWidth, int screenHeight, const OverlayBitmap& bitmap)
{
    std::string out;
    out.reserve(24 + bitmap.argb.size());
    PutWord(out, nextStartMs);
    PutWord(out, 1);
    PutWord(out, static_cast<uint32_t>(OverlayX(screenWidth, bitmap.width)));
    PutWord(out, static_cast<uint32_t>(OverlayY(screenHeight, bitmap.height)));
    PutWord(out, static_cast<uint32_t>(bitmap.width));
    PutWord(out, static_cast<uint32_t>(bitmap.height));
    out.append(reinterpret_cast<const char*>(bitmap.argb.data()), bitmap.argb.size());
    return out;
}
