#pragma once

// Helpers of the live-streaming integration tests: media made with the ffmpeg tool, and probes of
// what the server sent.

#include "support/http_client.h"
#include "support/test_support.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

// Runs a shell command; true when it exits 0. Output goes to the test log only on failure.
bool RunTool(const std::string& command, std::string* output = nullptr);

using vembatest::ShellQuote;

// An H.264 + AAC clip of a moving test picture with a tone, 24 fps.
bool MakeTestClip(const std::string& path, int seconds, int width, int height);

// A flat grey clip: burnt-in subtitles show plainly on it.
bool MakeFlatClip(const std::string& path, int seconds, int width, int height);

// A SAMI file whose one Korean and English line lasts from start to end (ms).
void WriteSamiFile(const std::string& path, int startMs, int endMs, const std::string& text);

struct MediaFacts {
    double duration = -1; // seconds, from the container
    int width = 0;
    int height = 0;
    double firstVideoPts = -1; // seconds
    double lastVideoPts = -1;
    int videoFrames = 0;
};

// What ffprobe tells about a media file.
MediaFacts ProbeMedia(const std::string& path);

// The grey levels of one video frame at seconds into the file, scaled to w × h.
// decodeFromStart decodes up to it instead of seeking, for a segment whose only key
// frame is its first (a seek in MPEG-TS finds none after it and gives no frame).
std::vector<unsigned char> GreyFrameAt(
    const std::string& path, double seconds, int w, int h, bool decodeFromStart = false);

// Mean absolute difference of two equal-sized grey pictures (0..255).
double MeanDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b);

// The number of running (not zombie) vembacast-engine processes started by this process
// for streams and conversions (thumbnail runs and key frame index passes are not
// counted).
int CountChildEngines();

// Waits until the process has ended (a zombie counts: its parent has yet to reap it),
// through a descriptor the kernel makes readable at its end; false when it has not
// ended within the bound.
bool WaitForExit(int pid, std::chrono::seconds bound = std::chrono::seconds(60));
