#pragma once

// The tracks a browser may choose in a video: its audio streams (language, codec,
// channels), its subtitle streams, and the text subtitle files that lie beside it.
//
// What is inside the file comes from the encoder engine's track list mode (the server
// itself never parses a media file): one bounded engine run per version of a file,
// remembered for the most recent kRememberedTrackLists files. A text subtitle stream is
// taken out of the file by the engine as SubRip once per version of the file and
// stream and kept in "Services/subtitles/" (at most kKeptSubtitleFiles files, the
// oldest going first); subtitle files beside the video are read as they are.
//
// Threads: any number of HTTP workers. m_lock guards the remembered lists only; the
// engine runs, file reads and clean-ups happen outside it.

#include "enginectl/encoder.h"

#include <chrono>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

inline constexpr size_t kRememberedTrackLists = 256;
inline constexpr size_t kKeptSubtitleFiles = 100;
inline constexpr std::chrono::seconds kTrackListBound { 20 };
inline constexpr std::chrono::seconds kSubtitleStreamBound { 120 };
// The extensions of the subtitle files offered beside a video.
inline constexpr const char* kSubtitleFileExtensions[]
    = { "smi", "srt", "ssa", "ass", "vtt", "sub" };

struct MediaTrack {
    int number = 0; // among the streams of its kind: -aid N, -textsub N
    std::string codec;
    int channels = 0;
    int sampleRate = 0;
    bool text = false; // subtitles: text, not pictures
    std::string language;
    std::string title;
    bool isDefault = false;
    bool forced = false;
};

struct MediaTrackList {
    bool readable = false; // the engine could open the file
    double durationSeconds = 0;
    std::vector<MediaTrack> audio;
    std::vector<MediaTrack> subtitles;
};

// The engine's track list text; nothing when it is not one.
std::optional<MediaTrackList> ParseTrackList(const std::string& text);

struct SubtitleFileBeside {
    std::string name; // the file's name in the video's folder
    std::string format; // the extension, lower case
    std::string language; // what the name holds between the video's name and the
                          // extension ("a.ko.srt": "ko"), else empty
};

// The subtitle files beside the video at videoPath (not hidden, UTF-8 names, inside
// the share whose folder is shareFolder), sorted by name.
std::vector<SubtitleFileBeside> FindSubtitleFilesBeside(
    const std::string& videoPath, const std::string& shareFolder);

struct MediaFileVersion {
    std::string path;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    bool operator==(const MediaFileVersion&) const = default;
};

class MediaTrackBook {
public:
    // servicesFolder keeps the subtitle streams taken out of files.
    MediaTrackBook(EngineLaunch launch, std::string servicesFolder);

    // The track list of this version of the file (an unreadable file gives a list
    // that says so).
    MediaTrackList Tracks(const MediaFileVersion& file);
    // The SubRip file of text subtitle stream `number`, or empty when the engine could
    // not write it.
    std::string SubtitleStreamFile(const MediaFileVersion& file, int number);

private:
    void KeepSubtitleFilesBounded(const std::string& folder);

    const EngineLaunch m_launch;
    const std::string m_servicesFolder;
    std::mutex m_lock;
    // --- guarded by m_lock: the most recent first
    std::list<std::pair<MediaFileVersion, MediaTrackList>> m_lists;
};
