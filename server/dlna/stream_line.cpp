#include "dlna/stream_line.h"

#include "dlna/media_profiles.h"
#include "streaming/command_line.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kSegmentSeconds = 5;

std::string Fixed(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// x264 options of each box: High profile, a bitrate a home network carries, the
// level that box needs.
std::string X264Options(int boxHeight, unsigned processors)
{
    const bool full = boxHeight >= 1080;
    return std::string("profile=high:preset=veryfast:bitrate=") + (full ? "6000" : "3500")
        + ":vbv_maxrate=" + (full ? "9000" : "5000") + ":vbv_bufsize=" + (full ? "12000" : "7000")
        + ":keyint=250:level=" + (full ? "4.1" : "4.0") + ":" + MakeLiveThreadsOption(processors);
}

// "hh:mm:ss.fff", "mm:ss", or plain seconds; -1 when malformed.
double ParseNptTime(const std::string& text)
{
    if (text.empty())
        return -1;
    double total = 0;
    size_t start = 0;
    int parts = 0;
    while (start <= text.size()) {
        size_t colon = text.find(':', start);
        const bool last = colon == std::string::npos;
        const std::string part = text.substr(start, last ? std::string::npos : colon - start);
        if (part.empty() || ++parts > 3)
            return -1;
        size_t digits = 0;
        bool dot = false;
        for (char c : part) {
            if (c == '.' && last && !dot)
                dot = true;
            else if (std::isdigit(static_cast<unsigned char>(c)))
                ++digits;
            else
                return -1;
        }
        if (digits == 0 || digits > 12)
            return -1;
        total = total * 60 + std::strtod(part.c_str(), nullptr);
        if (last)
            break;
        start = colon + 1;
    }
    return total;
}

} // namespace

int FirstStreamSegment(double startSeconds)
{
    return static_cast<int>(std::floor(std::max(0.0, startSeconds) / kSegmentSeconds)) + 1;
}

std::string StreamSegmentPath(const std::string& workFolder, int segment)
{
    return workFolder + "/vemba-9-" + std::to_string(segment) + ".ts";
}

std::vector<std::string> MakeStreamCommandLine(const StreamLine& line)
{
    std::vector<std::string> words;
    if (line.startSeconds > 0) {
        words.push_back("-ss");
        words.push_back(Fixed(line.startSeconds));
        if (line.keyframeSeconds >= 0 && line.keyframeSeconds <= line.startSeconds) {
            words.push_back("-kf");
            words.push_back(Fixed(line.keyframeSeconds));
        }
    }
    words.push_back(EnginePathWord(line.localPath));
    const bool quarterTurn = line.rotation % 180 != 0;
    const StreamBox size
        = FitIntoStreamBox(line.boxHeight, quarterTurn ? line.videoHeight : line.videoWidth,
            quarterTurn ? line.videoWidth : line.videoHeight);
    const std::vector<std::string> rest = { "-autorotate", "-vf",
        "scale=" + std::to_string(size.width) + ":" + std::to_string(size.height), "-ovc", "x264",
        "-x264encopts", X264Options(line.boxHeight, line.processors), "-oac", "faac", "-faacopts",
        "br=128", "-of", "lavf", "-lavfopts", "format=mpegts", "-vembacast", "5", "-o",
        EnginePathWord(StreamSegmentPath(line.workFolder, FirstStreamSegment(line.startSeconds))),
        "-pipename=" + std::to_string(line.pipeNumber) };
    words.insert(words.end(), rest.begin(), rest.end());
    return words;
}

double ParseTimeSeekStart(const std::string& value)
{
    std::string text;
    for (char c : value) {
        if (!std::isspace(static_cast<unsigned char>(c)))
            text += c;
    }
    if (text.size() < 5 || text.compare(0, 4, "npt=") != 0)
        return -1;
    const size_t dash = text.find('-', 4);
    if (dash == std::string::npos)
        return -1;
    const std::string end = text.substr(dash + 1);
    if (!end.empty() && ParseNptTime(end.substr(0, end.find('/'))) < 0)
        return -1;
    return ParseNptTime(text.substr(4, dash - 4));
}

std::string TimeSeekAnswer(double startSeconds, double durationSeconds)
{
    return "npt=" + Fixed(startSeconds) + "-" + Fixed(durationSeconds) + "/"
        + Fixed(durationSeconds);
}
