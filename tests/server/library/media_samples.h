#pragma once

// Short, small media files made with the ffmpeg tool while a test runs.

#include "support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <unistd.h>

// What to make, written as ClipRecipe().Audio("ac3").Seconds(3).
struct ClipRecipe {
    int seconds = 2;
    int width = 160;
    int height = 120;
    std::string videoCodec = "libx264"; // empty: no video stream
    std::string audioCodec = "aac"; // empty: no audio stream
    std::string videoOptions; // extra encoder options, e.g. "-preset ultrafast"

    ClipRecipe& Seconds(int value) { return seconds = value, *this; }
    ClipRecipe& Size(int w, int h) { return width = w, height = h, *this; }
    ClipRecipe& Video(std::string codec) { return videoCodec = std::move(codec), *this; }
    ClipRecipe& Audio(std::string codec) { return audioCodec = std::move(codec), *this; }
    ClipRecipe& Options(std::string options) { return videoOptions = std::move(options), *this; }
};

// The ffmpeg command that writes the clip to path.
inline std::string ClipCommand(const std::string& path, const ClipRecipe& recipe)
{
    std::string duration = std::to_string(recipe.seconds);
    std::string command = "ffmpeg -nostdin -loglevel error -y";
    if (!recipe.videoCodec.empty())
        command += " -f lavfi -i testsrc=duration=" + duration + ":size="
            + std::to_string(recipe.width) + "x" + std::to_string(recipe.height) + ":rate=24";
    if (!recipe.audioCodec.empty())
        command += " -f lavfi -i sine=duration=" + duration + ":sample_rate=48000";
    if (!recipe.videoCodec.empty())
        command += " -c:v " + recipe.videoCodec + " -pix_fmt yuv420p " + recipe.videoOptions;
    if (!recipe.audioCodec.empty())
        command += " -c:a " + recipe.audioCodec;
    return command + " " + vembatest::ShellQuote(path) + " >/dev/null 2>&1";
}

// Writes the clip to path (the container follows the extension); true on success.
inline bool MakeClip(const std::string& path, const ClipRecipe& recipe = ClipRecipe())
{
    return std::system(ClipCommand(path, recipe).c_str()) == 0;
}

// Puts the clip at path, made once and kept in a cache folder of this user, so the
// many test processes of a run do not each make the same media. The cached file is
// hard-linked (or copied) into place; tests never change it.
inline bool PlaceClip(const std::string& path, const ClipRecipe& recipe = ClipRecipe())
{
    namespace fs = std::filesystem;
    std::string extension = fs::path(path).extension().string();
    std::string folder
        = (fs::temp_directory_path() / ("vembacast-test-media-" + std::to_string(getuid())))
              .string();
    std::error_code error;
    fs::create_directories(folder, error);
    std::string cached = folder + "/"
        + std::to_string(std::hash<std::string> {}(ClipCommand("OUT" + extension, recipe)))
        + extension;
    if (!fs::exists(cached)) {
        std::string part = cached + "." + std::to_string(getpid()) + ".part" + extension;
        if (!MakeClip(part, recipe))
            return false;
        fs::rename(part, cached, error); // atomic: a racing process made the same bytes
        if (error)
            return false;
    }
    fs::create_hard_link(cached, path, error);
    if (error)
        fs::copy_file(cached, path, fs::copy_options::overwrite_existing, error);
    return !error;
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
    std::string source = path + ".source.mp4";
    if (!PlaceClip(source))
        return false;
    std::string bytes = ReadBytes(source);
    std::filesystem::remove(source);
    size_t box = bytes.find("elst");
    if (box == std::string::npos || box + 12 > bytes.size())
        return false;
    bytes.replace(box + 8, 4, std::string(4, '\xff'));
    WriteBytes(path, bytes);
    return true;
}
