#pragma once

// Text subtitle mode: `vembacast-engine -textsub N "PATH" -o OUT`. Writes the N-th
// subtitle stream of PATH (0-based among its subtitle streams, the numbers of the
// track list) as a SubRip file in UTF-8, so the server can turn it into the WebVTT a
// browser shows. Text streams of any kind FFmpeg decodes (SubRip, ASS/SSA, mov_text,
// WebVTT, ...) give their lines without styling; times are media seconds, the
// timeline of every other option. The whole file is read once (the subtitle packets
// are spread over it); nothing else is decoded.
//
// Exit status: 0 written; 1 no -o, 2 the input cannot be opened or has no such
// stream, 4 the stream is not text (a picture stream) or cannot be decoded, 6 OUT
// cannot be written (with a line on stderr).

#include "engine/engine_job.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

struct TextCue {
    int64_t startMs = 0;
    int64_t endMs = 0;
    std::string text; // lines joined by '\n'
};

// True for subtitle codecs whose events are text.
bool IsTextSubtitleCodec(AVCodecID codec);

// The text of one ASS event line ("ReadOrder,Layer,Style,Name,MarginL,MarginR,MarginV,
// Effect,Text", as FFmpeg's decoders give it): override blocks dropped, \N and \n
// as line breaks, \h as a blank.
std::string AssEventText(std::string_view event);

EngineError ReadTextSubtitles(const std::string& path, int track, std::vector<TextCue>& cues);

// The cues as a SubRip file: numbered from 1, "00:00:01,500 --> 00:00:03,000" times,
// no empty line inside an entry.
std::string FormatSubRip(const std::vector<TextCue>& cues);

int RunTextSubtitles(const std::string& input, int track, const std::string& output);
