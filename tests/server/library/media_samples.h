#pragma once

// Short, small media files made with the ffmpeg tool while a test runs.

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

inline std::string QuoteForShell(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// What to make, written as ClipSpec().Audio("ac3").Seconds(3).
struct ClipSpec {
    int seconds = 2;
    int width = 160;
    int height = 120;
    std::string videoCodec = "libx264"; // empty: no video stream
    std::string audioCodec = "aac"; // empty: no audio stream
    std::string videoOptions; // extra encoder options, e.g. "-preset ultrafast"

    ClipSpec& Seconds(int value) { return seconds = value, *this; }
    ClipSpec& Size(int w, int h) { return width = w, height = h, *this; }
    ClipSpec& Video(std::string codec) { return videoCodec = std::move(codec), *this; }
    ClipSpec& Audio(std::string codec) { return audioCodec = std::move(codec), *this; }
    ClipSpec& Options(std::string options) { return videoOptions = std::move(options), *this; }
};

// Writes the clip to path (the container follows the extension); true on success.
inline bool MakeClip(const std::string& path, const ClipSpec& spec = ClipSpec())
{
    std::string duration = std::to_string(spec.seconds);
    std::string command = "ffmpeg -nostdin -loglevel error -y";
    if (!spec.videoCodec.empty())
        command += " -f lavfi -i testsrc=duration=" + duration + ":size="
            + std::to_string(spec.width) + "x" + std::to_string(spec.height) + ":rate=24";
    if (!spec.audioCodec.empty())
        command += " -f lavfi -i sine=duration=" + duration + ":sample_rate=48000";
    if (!spec.videoCodec.empty())
        command += " -c:v " + spec.videoCodec + " -pix_fmt yuv420p " + spec.videoOptions;
    if (!spec.audioCodec.empty())
        command += " -c:a " + spec.audioCodec;
    command += " " + QuoteForShell(path) + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// An MP4 whose first edit list claims 0xFFFFFFFF entries: MediaInfo spins on it
// for minutes. False when the clip has no edit list to damage.
inline bool MakeSpinningMp4(const std::string& path)
{
    if (!MakeClip(path))
        return false;
    std::string bytes = ReadBytes(path);
    size_t box = bytes.find("elst");
    if (box == std::string::npos || box + 12 > bytes.size())
        return false;
    bytes.replace(box + 8, 4, std::string(4, '\xff'));
    WriteBytes(path, bytes);
    return true;
}
