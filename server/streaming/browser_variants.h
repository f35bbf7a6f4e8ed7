#pragma once

// The variants a browser is offered (a "/play" with variants=browser; the phone never
// asks, and keeps its four presets). On a screen at home the phone's 576 kbit/s
// picture is far below what the network and the screen take, so a browser gets:
//
//   Original  the source's own video, copied (direct stream): H.264 in 8-bit 4:2:0
//             whose key frames are indexed and whose picture needs no turn; the
//             sound copied where MPEG-TS takes it (AAC, MP3), else AAC
//   1080p, 720p, 480p
//             H.264 High profile at about 6, 3 and 1.2 Mbit/s with 128 kbit/s AAC,
//             at the source's frame rate, turned upright, never larger than the
//             source
//
// A rotated source is offered upright HD transcodes only: MPEG-TS cannot say that its
// picture is to be turned, so a copy would play sideways.
//
// Variant numbers name the playlists and segments as the phone's do; a browser's
// begin after the phone's six playlists.

#include "streaming/segment_plan.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kOriginalVariant = 7;
inline constexpr int kHd1080Variant = 8;
inline constexpr int kHd720Variant = 9;
inline constexpr int kHd480Variant = 10;

// What the choice of variants is made from: the media read and, where known, the key
// frame index (which has the last word on the picture and on what can be copied).
struct BrowserSource {
    int width = 0; // stored picture size
    int height = 0;
    int rotation = 0; // degrees clockwise to show the picture upright
    double frameRate = 0;
    bool indexed = false; // a key frame index exists: the direct stream may be offered
    bool videoCopyable = false; // H.264 in 8-bit 4:2:0
    std::string videoProfile; // "High@L4.1", or "High" with videoLevel "4.1"
    std::string videoLevel;
    bool hasAudio = false;
    std::string audioCodec; // the first audio stream: "aac", "mp3", "ac3", ...
    bool audioCopyable = false;
    bool burntSubtitles = false; // a subtitle stream burnt in: only transcodes show it
    // Where the key frames lie in the file (the index's offsets), for the bitrate of
    // the direct stream; empty when unknown.
    std::vector<double> keyframes;
    std::vector<int64_t> positions;
    int64_t fileBytes = 0;
    double durationSeconds = 0;
};

struct BrowserVariant {
    int number = 0;
    std::string label; // "Original", "1080p", ...
    bool copyVideo = false;
    int width = 0; // the picture sent, upright
    int height = 0;
    // x264 rate control of a transcode (kbit/s; the buffer in kbit); 0 for a copy.
    int videoKbps = 0;
    int maxKbps = 0;
    int bufferKbits = 0;
    std::string level; // H.264 level of a transcode, "4.1"
    int audioKbps = 128; // the AAC rate where sound is encoded
    std::string codecs; // the CODECS attribute
    int64_t bandwidth = 0; // peak bit/s of any segment
    int64_t averageBandwidth = 0;
    double frameRate = 0;
};

// The variants to offer, best first; empty when the source has no usable picture.
std::vector<BrowserVariant> ChooseBrowserVariants(
    const BrowserSource& source, const SegmentPlan& plan);

// The variant a browser starts with: Original on the home network when offered,
// else the best transcode no higher than 720p away from home (which a remote link
// is likelier to carry); 0 when nothing is offered.
int StartVariant(const std::vector<BrowserVariant>& variants, bool homeNetwork);

// The RFC 6381 name of an H.264 stream from MediaInfo's profile ("High@L4.1", "Main",
// "Constrained Baseline@L3") and level ("4.1"), e.g. "avc1.640029"; High at level
// 4.1 where the profile or level cannot be read.
std::string H264CodecName(const std::string& profile, const std::string& level);

// The smallest H.264 level ("3", "3.1", ... "5.2") that takes width × height at
// frameRate.
std::string H264LevelFor(int width, int height, double frameRate);

// The highest bitrate (bit/s) over the plan's segments of the source's own bytes
// between their key frames, or 0 when the offsets are unknown.
int64_t PeakSourceBitrate(const BrowserSource& source, const SegmentPlan& plan);

// The picture of at most boxWidth × boxHeight (turned to the picture's orientation)
// of an upright width × height picture: the aspect kept, never enlarged, even sides.
struct PictureSize {
    int width = 0;
    int height = 0;
};
PictureSize FitPicture(int width, int height, int boxWidth, int boxHeight);
