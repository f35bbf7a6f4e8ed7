#pragma once

// Seek preview mode: `vembacast-engine -previews "PATH" -o OUT`. The server runs it
// once per version of a file (as a plain child process it bounds in time) to show a
// browser where a seek will land. In one pass over the file it decodes only the key
// frame at or just after each 10 s mark (the demuxer drops every other packet where
// it can, so the rest is not even read), scales it to a tile kPreviewTileWidth wide
// (upright, in its display shape) and lays the tiles into JPEG sprite sheets as
// protocol/preview_sheets.h says. A mark with no key frame of its own shows the
// picture before it. The process lowers itself to idle priority (processor and
// disk) first: previews only take what playing and converting leave.
//
// OUT is a folder made whole: the engine writes OUT.part/ and renames it, so OUT
// exists exactly when every file in it is written. It holds 0.jpg, 1.jpg, ... and
// "previews.txt", UTF-8 text, a keyword and its values a line:
//
//   vembacast-previews 1            format and its version (first line)
//   interval 10                     seconds between two pictures
//   tile 160 90                     a picture's width and height in pixels
//   grid 10 10                      pictures a row, rows a sheet
//   pictures 13                     pictures in all (the n-th shows n * interval)
//   sheets 2                        sheet files, 0.jpg up to (sheets - 1).jpg
//   duration 125.000000             the length in seconds (0.000000 when unknown)
//
// Readers ignore keywords they do not know.
//
// Exit status: 0 written; otherwise the engine's error code (1 no -o, 2 the input
// cannot be opened or is not media, 3 no video, 4 no decoder, 5 no JPEG encoder, 6 OUT
// cannot be written or is there already, 7 no picture decoded), with a line on
// stderr and nothing left behind.

#include "engine/engine_job.h"
#include "protocol/preview_sheets.h"

#include <string>

struct PreviewSummary {
    PreviewGrid grid;
    int pictures = 0;
    double durationSeconds = 0;
};

std::string FormatPreviewIndex(const PreviewSummary& summary);

// The mark times (seconds) that the key frame at `keySeconds` serves when the next
// unserved mark is `nextMark` (an index): marks from nextMark up to the last one at
// or before keySeconds plus a tolerance (a key frame a hair before its mark serves
// it). Returns the index after the last mark served; nextMark when none.
int MarksServedBy(double keySeconds, int nextMark);

// The whole mode; the process exit status.
int RunSeekPreviews(const std::string& input, const std::string& output);
