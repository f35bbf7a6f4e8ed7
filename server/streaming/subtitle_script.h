#pragma once

// Burnt-in subtitles: when a SAMI file (".smi") lies beside the video, the subtitle
// converter turns it into an ASS script sized for the screen, and the engine draws
// it with a font that covers Korean. Any failure only drops the subtitles; the
// stream or conversion goes on without them.

#include <string>
#include <vector>

// The SAMI file beside localPath (its path up to the last '.' of the file name, then
// ".smi"), or empty text when there is none.
std::string FindSamiFileFor(const std::string& localPath);

struct SubtitleScriptJob {
    std::string localPath; // the video
    long screenWidth = 0; // the size the script is laid out for
    long screenHeight = 0;
    std::string scriptBase; // the script is written to scriptBase + ".ass"
    int startSeconds = 0; // where a live seek starts; 0 otherwise
};

// Writes the script and returns the engine options that burn it in
// (MakeSubtitleOptions), or none when there is no SAMI file, it holds no subtitle,
// the script cannot be written or no Korean font is installed.
std::vector<std::string> MakeSubtitleScript(const SubtitleScriptJob& job);

// The script base of a live session: one per session, inside its work folder, so
// concurrent sessions never overwrite each other's scripts and the end of play
// removes it with the folder.
std::string LiveSubtitleScriptBase(const std::string& workFolder);

// A script base for a conversion, unique in the temporary folder ($TMPDIR or /tmp):
// "vembacast_conv_temp_%08X", with the .ass file created empty so no other job takes
// the name. Empty text when no name could be taken.
std::string TakeConvertSubtitleScriptBase();
