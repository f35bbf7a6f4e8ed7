#include "engine/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>

namespace {

enum class ValueKind { None, Text, Number };

struct OptionSpec {
    ValueKind kind;
};

// Every option the server's templates use, and the old player options a
// hand-written line may carry. Options with values consume the next word.
const std::map<std::string, OptionSpec>& OptionTable()
{
    static const std::map<std::string, OptionSpec> table = {
        { "-ss", { ValueKind::Number } },
        { "-fps", { ValueKind::Number } },
        { "-ofps", { ValueKind::Text } },
        { "-vf", { ValueKind::Text } },
        { "-vf-add", { ValueKind::Text } },
        { "-sub", { ValueKind::Text } },
        { "-font", { ValueKind::Text } },
        { "-subcp", { ValueKind::Text } },
        { "-ovc", { ValueKind::Text } },
        { "-x264encopts", { ValueKind::Text } },
        { "-oac", { ValueKind::Text } },
        { "-faacopts", { ValueKind::Text } },
        { "-of", { ValueKind::Text } },
        { "-lavfopts", { ValueKind::Text } },
        { "-vembacast", { ValueKind::Number } },
        { "-o", { ValueKind::Text } },
        { "-pipename", { ValueKind::Number } },
        { "-keyframes", { ValueKind::Text } },
        { "-tracks", { ValueKind::Text } },
        { "-previews", { ValueKind::Text } },
        { "-textsub", { ValueKind::Number } },
        { "-sid", { ValueKind::Number } },
        { "-cuts", { ValueKind::Text } },
        { "-kf", { ValueKind::Number } },
        { "-aid", { ValueKind::Number } },
        { "-autorotate", { ValueKind::None } },
        { "-sws", { ValueKind::Text } },
        { "-mc", { ValueKind::Text } },
        { "-cache", { ValueKind::Text } },
        { "-ass", { ValueKind::None } },
        { "-nosub", { ValueKind::None } },
        { "-nosound", { ValueKind::None } },
        { "-avthread", { ValueKind::None } },
        { "-quiet", { ValueKind::None } },
        { "-really-quiet", { ValueKind::None } },
        { "-noskip", { ValueKind::None } },
        { "-forceidx", { ValueKind::None } },
    };
    return table;
}

bool ParseNumber(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    double parsed = strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

bool LooksLikeOption(const std::string& word)
{
    double ignored;
    return word.size() > 1 && word[0] == '-' && !ParseNumber(word, ignored);
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

// "key=value" parts of a colon-separated option list (-faacopts, -lavfopts).
std::string FindSubOption(const std::string& list, const std::string& key)
{
    for (const std::string& part : Split(list, ':')) {
        if (part.compare(0, key.size() + 1, key + "=") == 0)
            return part.substr(key.size() + 1);
    }
    return {};
}

void ApplyFrameRate(const std::string& value, EngineOptions& options)
{
    double num = 0;
    double den = 1;
    size_t slash = value.find('/');
    bool ok = slash == std::string::npos
        ? ParseNumber(value, num)
        : ParseNumber(value.substr(0, slash), num) && ParseNumber(value.substr(slash + 1), den);
    if (!ok || num <= 0 || den <= 0 || num / den > 240) {
        options.notes.push_back("-ofps " + value + ": not a usable rate, keeping 24");
        return;
    }
    if (slash == std::string::npos && std::floor(num) != num) {
        // 29.97 and friends: keep three decimals of precision.
        options.outputFpsNum = static_cast<int>(std::lround(num * 1000));
        options.outputFpsDen = 1000;
    } else {
        options.outputFpsNum = static_cast<int>(num);
        options.outputFpsDen = static_cast<int>(den);
    }
    options.outputFpsGiven = true;
}

void ApplyNumber(const std::string& name, double value, EngineOptions& options)
{
    if (name == "-ss") {
        options.startSeconds = value < 0 ? 0 : value;
    } else if (name == "-fps") {
        options.inputFpsHint = value > 0 && value < 1000 ? value : 0;
    } else if (name == "-vembacast") {
        if (value >= 1 && value <= 3600)
            options.segmentSeconds = static_cast<int>(value);
        else
            options.notes.push_back("-vembacast: segment length out of range, ignored");
    } else if (name == "-kf") {
        options.keyframeSeconds = value < 0 ? -1 : value;
    } else if (name == "-sid") {
        if (value >= 0 && value <= 1000000 && std::floor(value) == value)
            options.burntSubtitleTrack = static_cast<int>(value);
        else
            options.notes.push_back("-sid: not a stream number, ignored");
    } else if (name == "-textsub") {
        if (value >= 0 && value <= 1000000 && std::floor(value) == value)
            options.textSubtitleTrack = static_cast<int>(value);
        else
            options.notes.push_back("-textsub: not a stream number, ignored");
    } else if (name == "-aid") {
        if (value >= 0 && value <= 1000000 && std::floor(value) == value)
            options.audioTrack = static_cast<int>(value);
        else
            options.notes.push_back("-aid: not a stream number, ignored");
    } else if (name == "-pipename") {
        if (value >= 1 && value <= 2147483647.0)
            options.pipeNumber = static_cast<int>(value);
        else
            options.notes.push_back("-pipename: number out of range, ignored");
    }
}

void ApplyText(const std::string& name, const std::string& value, EngineOptions& options)
{
    if (name == "-o")
        options.output = value;
    else if (name == "-ofps")
        ApplyFrameRate(value, options);
    else if (name == "-vf" || name == "-vf-add")
        AppendFilterChain(value, options);
    else if (name == "-sub")
        options.subtitleFile = value;
    else if (name == "-font")
        options.fontFile = value;
    else if (name == "-subcp")
        options.subtitleCodepage = value;
    else if (name == "-keyframes")
        options.keyframesInput = value;
    else if (name == "-tracks")
        options.tracksInput = value;
    else if (name == "-previews")
        options.previewsInput = value;
    else if (name == "-cuts")
        options.cutsFile = value;
    else if (name == "-ovc")
        options.videoCodec = value;
    else if (name == "-x264encopts")
        options.x264Options = value;
    else if (name == "-oac")
        options.audioCodec = value;
    else if (name == "-faacopts") {
        double kbps = 0;
        std::string br = FindSubOption(value, "br");
        if (!br.empty() && ParseNumber(br, kbps) && kbps >= 8 && kbps <= 512)
            options.audioBitrateKbps = static_cast<int>(kbps);
        else if (!br.empty())
            options.notes.push_back("-faacopts br=" + br + ": out of range, ignored");
    } else if (name == "-lavfopts") {
        options.container = FindSubOption(value, "format");
    }
    // -of, -sws, -mc, -cache: accepted, nothing to do.
}

// The font path is put on the line without quotes; a path with blanks arrives in
// pieces. Join the following plain words while that names an existing file.
size_t JoinUnquotedPath(const std::vector<std::string>& args, size_t index, std::string& value,
    const FileExistsFn& fileExists)
{
    if (!fileExists || fileExists(value))
        return index;
    std::string joined = value;
    for (size_t next = index + 1; next < args.size() && !LooksLikeOption(args[next]); ++next) {
        joined += " " + args[next];
        if (fileExists(joined)) {
            value = joined;
            return next;
        }
    }
    return index;
}

} // namespace

void AppendFilterChain(const std::string& value, EngineOptions& options)
{
    for (const std::string& filter : Split(value, ',')) {
        size_t equals = filter.find('=');
        std::string name = filter.substr(0, equals);
        std::string params = equals == std::string::npos ? "" : filter.substr(equals + 1);
        if (name == "scale") {
            FilterStep step { FilterKind::Scale };
            std::vector<std::string> sides = Split(params, ':');
            double w = 0;
            double h = 0;
            if (!sides.empty() && ParseNumber(sides[0], w) && w > 0 && w <= 16384)
                step.width = static_cast<int>(w);
            if (sides.size() > 1 && ParseNumber(sides[1], h) && h > 0 && h <= 16384)
                step.height = static_cast<int>(h);
            options.filters.push_back(step);
        } else if (name == "rotate") {
            double mode = 0;
            if (ParseNumber(params, mode) && mode >= 0 && mode <= 3)
                options.filters.push_back({ FilterKind::Rotate, 0, 0, static_cast<int>(mode) });
            else
                options.notes.push_back("rotate=" + params + ": not a rotation, ignored");
        } else if (name == "ass") {
            // Subtitles are drawn once, where the chain first names them.
            bool present = false;
            for (const FilterStep& step : options.filters)
                present = present || step.kind == FilterKind::Subtitles;
            if (!present)
                options.filters.push_back({ FilterKind::Subtitles });
        } else if (name == "harddup") {
            // A constant rate was asked for: -ofps's, or the templates' 24.
            options.outputFpsGiven = true;
        } else if (name == "fixpts" || name.empty()) {
            // Output is timed by media time anyway.
        } else {
            options.notes.push_back("video filter '" + name + "' is not supported, ignored");
        }
    }
}

EngineOptions ParseEngineCommandLine(const std::vector<std::string>& args, FileExistsFn fileExists)
{
    EngineOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string word = args[i];
        if (word.empty())
            continue;
        if (!LooksLikeOption(word)) {
            if (options.input.empty())
                options.input = word;
            else
                options.notes.push_back("extra word '" + word + "' ignored");
            continue;
        }
        std::string name = word;
        std::string inlineValue;
        bool hasInline = false;
        size_t equals = word.find('=');
        if (equals != std::string::npos) {
            name = word.substr(0, equals);
            inlineValue = word.substr(equals + 1);
            hasInline = true;
        }
        auto found = OptionTable().find(name);
        if (found == OptionTable().end()) {
            options.notes.push_back("unknown option '" + word + "' ignored");
            continue;
        }
        ValueKind kind = found->second.kind;
        if (kind == ValueKind::None) {
            if (name == "-autorotate")
                options.autoRotate = true;
            continue;
        }
        std::string value = inlineValue;
        if (!hasInline) {
            // A value that starts with '-' is the next option: this one has none
            // (the x264 options of the last live preset are given that way).
            if (i + 1 >= args.size() || LooksLikeOption(args[i + 1])) {
                if (name != "-x264encopts")
                    options.notes.push_back(name + " has no value, ignored");
                continue;
            }
            value = args[++i];
            if (name == "-font")
                i = JoinUnquotedPath(args, i, value, fileExists);
        }
        if (kind == ValueKind::Number) {
            double number = 0;
            if (!ParseNumber(value, number)) {
                options.notes.push_back(name + " " + value + ": not a number, ignored");
                continue;
            }
            ApplyNumber(name, number, options);
        } else {
            ApplyText(name, value, options);
        }
    }
    return options;
}
