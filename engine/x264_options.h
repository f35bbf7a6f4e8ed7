#pragma once

// The -x264encopts list ("bitrate=576:level_idc=21:nombtree:me=dia:...") turned
// into x264's own parameter names and values. Names of the old player that x264
// spells differently are renamed, bare names become "true", "noNAME" becomes
// NAME=false, and every pair is tried on a scratch x264 parameter set so that a
// name or value x264 would refuse is noted and dropped instead of failing the run.
//
// preset=, tune= and profile= are not parameters but x264's starting points and
// limits (the HD variants give profile=high:preset=veryfast, say): they are
// checked against x264's own lists and handed to the encoder apart, which applies
// the preset and tune first, then the parameters, then the profile's limits.

#include <string>
#include <utility>
#include <vector>

struct X264Settings {
    std::vector<std::pair<std::string, std::string>> params; // x264 names, accepted by x264
    int bitrateKbps = 0; // 0: no bitrate given (x264's own rate control)
    bool globalHeader = false; // stream headers in the container, not in the stream
    int threads = -1; // -1: not given, 0: automatic
    std::string preset; // x264's names; empty when not given
    std::string tune;
    std::string profile;
    std::vector<std::string> notes; // dropped entries, for the log
};

// An empty text, or one that starts with '-', means "no options".
X264Settings MapX264Options(const std::string& text);

// "name=value:name=value" for libavcodec's x264-params option.
std::string JoinX264Params(const std::vector<std::pair<std::string, std::string>>& params);
