#pragma once

// The -x264encopts list ("bitrate=576:level_idc=21:nombtree:me=dia:...") turned
// into x264's own parameter names and values. Names of the old player that x264
// spells differently are renamed, bare names become "true", "noNAME" becomes
// NAME=false, and every pair is tried on a scratch x264 parameter set so that a
// name or value x264 would refuse is noted and dropped instead of failing the run.

#include <string>
#include <utility>
#include <vector>

struct X264Settings {
    std::vector<std::pair<std::string, std::string>> params; // x264 names, accepted by x264
    int bitrateKbps = 0; // 0: no bitrate given (x264's own rate control)
    bool globalHeader = false; // stream headers in the container, not in the stream
    int threads = -1; // -1: not given, 0: automatic
    std::vector<std::string> notes; // dropped entries, for the log
};

// An empty text, or one that starts with '-', means "no options".
X264Settings MapX264Options(const std::string& text);

// "name=value:name=value" for libavcodec's x264-params option.
std::string JoinX264Params(const std::vector<std::pair<std::string, std::string>>& params);
