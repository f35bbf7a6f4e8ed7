#pragma once

// The engine's arguments for a television's transcoded stream: H.264 High profile
// and AAC in MPEG-TS, fitted into 1920×1080 or 1280×720 (never enlarged), at the
// source's frame rate, cut into the engine's 5-second live segments of one run,
// which share one muxer and so join into one continuous stream. A time seek starts
// the run at the asked time, straight from the key frame before it when the file's
// key frame index is known. The picture is turned upright (MPEG-TS has no rotation).

#include <string>
#include <vector>

struct StreamLine {
    std::string localPath;
    double startSeconds = 0; // 0: from the beginning
    int boxHeight = 1080; // 1080 or 720
    int videoWidth = 0; // as stored
    int videoHeight = 0;
    int rotation = 0; // degrees clockwise to show the stored picture upright
    double keyframeSeconds = -1; // the key frame at or before the start; -1 unknown
    unsigned processors = 1;
    std::string workFolder;
    int pipeNumber = 0;
};

// The segment number the first file of a run starting at startSeconds carries.
int FirstStreamSegment(double startSeconds);

// The segment file n of the run in workFolder.
std::string StreamSegmentPath(const std::string& workFolder, int segment);

std::vector<std::string> MakeStreamCommandLine(const StreamLine& line);

// The start of a "TimeSeekRange.dlna.org" value ("npt=30-", "npt=0:00:30.5-",
// "npt=30.000-60.000"), in seconds; -1 when it is not of that form. An end, when
// given, is not used: the stream runs to the end of the file.
double ParseTimeSeekStart(const std::string& value);

// "npt=30.000-95.000/95.000": the range a stream from start serves.
std::string TimeSeekAnswer(double startSeconds, double durationSeconds);
