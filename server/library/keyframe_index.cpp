#include "library/keyframe_index.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace {

// The longest a file may play by its index: a year, far beyond any real film.
constexpr double kMaxSeconds = 366.0 * 24 * 3600;

std::vector<std::string_view> Words(std::string_view line)
{
    std::vector<std::string_view> words;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos)
            end = line.size();
        if (end > start)
            words.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

template <typename Number> bool ReadNumber(std::string_view text, Number& value)
{
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool ReadSeconds(std::string_view text, double& value)
{
    return ReadNumber(text, value) && std::isfinite(value) && value >= 0 && value <= kMaxSeconds;
}

bool ReadCount(std::string_view text, size_t& count)
{
    return ReadNumber(text, count) && count <= kMaxIndexKeyframes;
}

// Reads the lines of a text one at a time.
class LineReader {
public:
    explicit LineReader(const std::string& text)
        : m_text(text)
    {
    }
    bool Next(std::string_view& line)
    {
        if (m_at >= m_text.size())
            return false;
        size_t end = m_text.find('\n', m_at);
        if (end == std::string::npos)
            end = m_text.size();
        line = std::string_view(m_text).substr(m_at, end - m_at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        m_at = end + 1;
        return true;
    }

private:
    const std::string& m_text;
    size_t m_at = 0;
};

bool ReadKeyframes(LineReader& lines, size_t count, std::vector<double>& out)
{
    out.clear();
    out.reserve(count);
    std::string_view line;
    for (size_t i = 0; i < count; ++i) {
        double seconds = 0;
        if (!lines.Next(line) || !ReadSeconds(line, seconds))
            return false;
        if (!out.empty() && seconds <= out.back())
            return false;
        out.push_back(seconds);
    }
    return true;
}

bool ReadPositions(LineReader& lines, size_t count, std::vector<int64_t>& out)
{
    out.clear();
    out.reserve(count);
    std::string_view line;
    for (size_t i = 0; i < count; ++i) {
        int64_t position = 0;
        if (!lines.Next(line) || !ReadNumber(line, position) || position < -1)
            return false;
        out.push_back(position);
    }
    return true;
}

bool ReadVideo(const std::vector<std::string_view>& words, MediaKeyframeIndex& index)
{
    if (words.size() != 5 || !ReadNumber(words[2], index.width)
        || !ReadNumber(words[3], index.height))
        return false;
    index.videoCodec = words[1];
    index.pixelFormat = words[4];
    return index.width >= 0 && index.height >= 0 && index.width <= 65535 && index.height <= 65535;
}

bool ReadRate(std::string_view text, MediaKeyframeIndex& index)
{
    size_t slash = text.find('/');
    return slash != std::string_view::npos && ReadNumber(text.substr(0, slash), index.rateNum)
        && ReadNumber(text.substr(slash + 1), index.rateDen) && index.rateNum >= 0
        && index.rateDen > 0;
}

bool ReadAudio(const std::vector<std::string_view>& words, MediaKeyframeIndex& index)
{
    MediaKeyframeIndex::Audio audio;
    if (words.size() != 5 || !ReadNumber(words[2], audio.channels)
        || !ReadNumber(words[3], audio.sampleRate) || (words[4] != "copy" && words[4] != "encode"))
        return false;
    audio.codec = words[1];
    audio.copyable = words[4] == "copy";
    if (index.audio.size() >= 64)
        return false;
    index.audio.push_back(std::move(audio));
    return true;
}

// One keyword line (with the lines that belong to it); false when it is broken.
bool ReadItem(LineReader& lines, const std::vector<std::string_view>& words,
    MediaKeyframeIndex& index, bool& haveKeyframes)
{
    std::string_view key = words[0];
    size_t count = 0;
    if (key == "duration")
        return words.size() == 2 && ReadSeconds(words[1], index.durationSeconds);
    if (key == "video")
        return ReadVideo(words, index);
    if (key == "copyable") {
        index.copyable = words.size() == 2 && words[1] == "1";
        return words.size() == 2 && (words[1] == "0" || words[1] == "1");
    }
    if (key == "rotation")
        return words.size() == 2 && ReadNumber(words[1], index.rotation)
            && (index.rotation == 0 || index.rotation == 90 || index.rotation == 180
                || index.rotation == 270);
    if (key == "fps")
        return words.size() == 2 && ReadRate(words[1], index);
    if (key == "audio")
        return ReadAudio(words, index);
    if (key == "index") {
        index.fromContainer = words.size() == 2 && words[1] == "container";
        return words.size() == 2;
    }
    if (key == "keyframes") {
        haveKeyframes = true;
        return words.size() == 2 && ReadCount(words[1], count)
            && ReadKeyframes(lines, count, index.keyframes);
    }
    if (key == "filesize")
        return words.size() == 2 && ReadNumber(words[1], index.fileBytes) && index.fileBytes >= 0;
    if (key == "positions")
        return words.size() == 2 && ReadCount(words[1], count)
            && ReadPositions(lines, count, index.positions);
    return true; // a keyword of a later engine
}

} // namespace

std::optional<MediaKeyframeIndex> ParseKeyframeIndex(const std::string& text)
{
    if (text.size() > kMaxIndexTextBytes)
        return std::nullopt;
    LineReader lines(text);
    std::string_view line;
    if (!lines.Next(line) || line != "vembacast-keyframes 1")
        return std::nullopt;
    MediaKeyframeIndex index;
    bool haveKeyframes = false;
    while (lines.Next(line)) {
        std::vector<std::string_view> words = Words(line);
        if (words.empty())
            continue;
        if (!ReadItem(lines, words, index, haveKeyframes))
            return std::nullopt;
    }
    if (!haveKeyframes || index.videoCodec.empty())
        return std::nullopt;
    // Offsets that do not belong to the times, or lie outside the file, say nothing.
    bool positionsHold = index.positions.size() == index.keyframes.size() && index.fileBytes > 0
        && std::all_of(index.positions.begin(), index.positions.end(),
            [&](int64_t at) { return at < index.fileBytes; });
    if (!positionsHold) {
        index.positions.clear();
        index.fileBytes = 0;
    }
    return index;
}

std::optional<double> KeyframeAtOrBefore(const std::vector<double>& keyframes, double seconds)
{
    auto after = std::upper_bound(keyframes.begin(), keyframes.end(), seconds + 1e-6);
    if (after == keyframes.begin())
        return std::nullopt;
    return *(after - 1);
}
