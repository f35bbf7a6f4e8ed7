#pragma once

// Track list mode: `vembacast-engine -tracks "PATH" -o OUT`. The server runs it (as a
// plain child process it bounds in time) to offer a browser the audio and subtitle
// streams of a video. Nothing is decoded.
//
// OUT, written whole, is UTF-8 text, one item a line, a keyword and its values
// separated by single blanks:
//
//   vembacast-tracks 1              format and its version (first line)
//   duration 7200.040000            length in seconds, 0.000000 when unknown
//   audio 0 aac 2 48000 lang=kor title=Korean%20dub default
//                                   one line per audio stream in file order (the
//                                   number is -aid's): codec, channels, sample rate
//   subtitle 0 subrip text lang=eng forced
//                                   one line per subtitle stream in file order (the
//                                   number is -textsub's): codec, "text" (it can be
//                                   written as SubRip) or "picture"
//
// After the fixed values come optional items: lang=, title= (values percent-encoded
// UTF-8: every byte but letters, digits and "-._" as %XX), and the flags default and
// forced. Readers ignore items and keywords they do not know.
//
// Exit status: 0 written; 1 no -o, 2 the input cannot be opened or is not media, 6 OUT
// cannot be written (with a line on stderr).

#include "engine/engine_job.h"

#include <string>
#include <vector>

struct TrackListing {
    struct Track {
        int number = 0; // among the streams of its kind
        std::string codec;
        int channels = 0; // audio
        int sampleRate = 0; // audio
        bool text = false; // subtitle: can be written as SubRip
        std::string language;
        std::string title;
        bool isDefault = false;
        bool forced = false;
    };
    double durationSeconds = 0;
    std::vector<Track> audio;
    std::vector<Track> subtitles;
};

EngineError ListTracks(const std::string& path, TrackListing& listing);
std::string FormatTrackListing(const TrackListing& listing);
int RunTrackList(const std::string& input, const std::string& output);
