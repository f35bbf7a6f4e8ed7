#include "streaming/preview_index.h"

#include "streaming/webvtt.h"

#include <cmath>
#include <sstream>

namespace {

bool ReadCount(std::istringstream& line, int& value, int max)
{
    long long read = -1;
    if (!(line >> read) || read < 0 || read > max)
        return false;
    value = int(read);
    return true;
}

} // namespace

std::optional<PreviewIndex> ParsePreviewIndex(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != "vembacast-previews 1")
        return std::nullopt;
    PreviewIndex index;
    bool ok = true;
    while (ok && std::getline(lines, line)) {
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        if (keyword == "interval")
            ok = ReadCount(words, index.intervalSeconds, 3600) && index.intervalSeconds > 0;
        else if (keyword == "tile")
            ok = ReadCount(words, index.grid.tileWidth, 1024)
                && ReadCount(words, index.grid.tileHeight, 1024);
        else if (keyword == "grid")
            ok = ReadCount(words, index.grid.columns, 64) && ReadCount(words, index.grid.rows, 64);
        else if (keyword == "pictures")
            ok = ReadCount(words, index.pictures, kMaxPreviewPictures);
        else if (keyword == "sheets")
            ok = ReadCount(words, index.sheets, kMaxPreviewPictures);
        else if (keyword == "duration")
            ok = bool(words >> index.durationSeconds) && std::isfinite(index.durationSeconds)
                && index.durationSeconds >= 0;
    }
    if (!ok || !index.grid.Usable() || index.pictures <= 0
        || index.sheets != PreviewSheetCount(index.grid, index.pictures))
        return std::nullopt;
    return index;
}

std::string MakePreviewTrack(
    const PreviewIndex& index, const std::function<std::string(int sheet)>& sheetUrl)
{
    std::string track = "WEBVTT\n";
    const int64_t stepMs = int64_t(index.intervalSeconds) * 1000;
    const int64_t endMs = int64_t(std::llround(index.durationSeconds * 1000));
    for (int picture = 0; picture < index.pictures; ++picture) {
        const int64_t startMs = picture * stepMs;
        // The last picture lasts to the end of the video when that is known and later.
        int64_t stopMs = startMs + stepMs;
        if (picture + 1 == index.pictures && endMs > startMs)
            stopMs = endMs;
        const PreviewPlace place = PlaceOfPreview(index.grid, picture);
        track += "\n" + WebVttClock(startMs) + " --> " + WebVttClock(stopMs) + "\n";
        track += sheetUrl(place.sheet) + "#xywh=" + std::to_string(place.x) + ","
            + std::to_string(place.y) + "," + std::to_string(index.grid.tileWidth) + ","
            + std::to_string(index.grid.tileHeight) + "\n";
    }
    return track;
}
