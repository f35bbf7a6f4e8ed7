#include "engine/x264_options.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>

extern "C" {
#include <x264.h>
}

namespace {

// Player spellings that differ from x264's.
const std::map<std::string, std::string>& RenameTable()
{
    static const std::map<std::string, std::string> table = {
        { "subq", "subme" },
        { "frameref", "ref" },
        { "level_idc", "level" },
        { "keyint_min", "min-keyint" },
        { "mixed_refs", "mixed-refs" },
        { "direct_pred", "direct" },
        { "b_pyramid", "b-pyramid" },
        { "b_adapt", "b-adapt" },
        { "vbv_maxrate", "vbv-maxrate" },
        { "vbv_bufsize", "vbv-bufsize" },
        { "deadzone_inter", "deadzone-inter" },
        { "deadzone_intra", "deadzone-intra" },
        { "qp_min", "qpmin" },
        { "qp_max", "qpmax" },
        { "qp_step", "qpstep" },
        { "nr", "nr" },
    };
    return table;
}

// Options of the old encoder front that have no meaning for one live pass.
const std::set<std::string>& IgnoredNames()
{
    static const std::set<std::string> names
        = { "turbo", "pass", "psnr", "ssim", "log", "visualize", "global_header" };
    return names;
}

std::string Underscores(std::string name)
{
    for (char& c : name) {
        if (c == '_')
            c = '-';
    }
    return name;
}

bool InNameList(const char* const* names, const std::string& value)
{
    for (; *names; ++names) {
        if (value == *names)
            return true;
    }
    return false;
}

// Each of a comma-separated list of tunes ("film,fastdecode") must be x264's.
bool KnownTunes(const std::string& value)
{
    size_t start = 0;
    while (true) {
        size_t end = value.find(',', start);
        std::string one = value.substr(start, end == std::string::npos ? end : end - start);
        if (!InNameList(x264_tune_names, one))
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

// preset=, tune=, profile=: true when the entry was one of them.
bool MapStartingPoint(
    const std::string& name, const std::string& value, const std::string& entry, X264Settings& s)
{
    bool known = false;
    if (name == "preset" && (known = InNameList(x264_preset_names, value)))
        s.preset = value;
    else if (name == "tune" && (known = KnownTunes(value)))
        s.tune = value;
    else if (name == "profile" && (known = InNameList(x264_profile_names, value)))
        s.profile = value;
    else if (name != "preset" && name != "tune" && name != "profile")
        return false;
    if (!known)
        s.notes.push_back("x264 option '" + entry + "' is not accepted, ignored");
    return true;
}

bool X264Accepts(const std::string& name, const std::string& value)
{
    x264_param_t scratch;
    x264_param_default(&scratch);
    return x264_param_parse(&scratch, name.c_str(), value.c_str()) == 0;
}

void MapOne(const std::string& entry, X264Settings& settings)
{
    size_t equals = entry.find('=');
    std::string name = entry.substr(0, equals);
    bool bare = equals == std::string::npos;
    std::string value = bare ? "true" : entry.substr(equals + 1);

    if (name == "global_header") {
        settings.globalHeader = true;
        return;
    }
    if (IgnoredNames().count(name)
        || (name.rfind("no", 0) == 0 && IgnoredNames().count(name.substr(2))))
        return;
    if (bare && name.size() > 2 && name.rfind("no", 0) == 0) {
        std::string positive = name.substr(name[2] == '-' ? 3 : 2);
        auto renamed = RenameTable().find(positive);
        positive = renamed != RenameTable().end() ? renamed->second : Underscores(positive);
        if (X264Accepts(positive, "false")) {
            name = positive;
            value = "false";
        }
    }
    if (!bare && MapStartingPoint(name, value, entry, settings))
        return;
    auto renamed = RenameTable().find(name);
    name = renamed != RenameTable().end() ? renamed->second : Underscores(name);

    if (!X264Accepts(name, value)) {
        settings.notes.push_back("x264 option '" + entry + "' is not accepted, ignored");
        return;
    }
    if (name == "bitrate")
        settings.bitrateKbps = atoi(value.c_str());
    if (name == "threads")
        settings.threads = value == "auto" ? 0 : atoi(value.c_str());
    settings.params.emplace_back(name, value);
}

} // namespace

X264Settings MapX264Options(const std::string& text)
{
    X264Settings settings;
    if (text.empty() || text[0] == '-')
        return settings;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(':', start);
        std::string entry
            = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!entry.empty())
            MapOne(entry, settings);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return settings;
}

std::string JoinX264Params(const std::vector<std::pair<std::string, std::string>>& params)
{
    std::string joined;
    for (const auto& [name, value] : params) {
        if (!joined.empty())
            joined += ':';
        joined += name + "=" + value;
    }
    return joined;
}
