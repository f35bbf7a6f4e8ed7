#include "streaming/play_input.h"

#include "http/query_values.h"
#include "http/request.h"
#include "streaming/hls_playlists.h"

namespace {

// The sizes of the session's fields (terminator included), which cut longer values.
constexpr size_t kIdChars = 40;
constexpr size_t kShortChars = 10;

std::string ReadCut(const HttpRequest& request, const char* name, size_t buffer)
{
    std::string value = GetRequestVar(request, name);
    if (value.size() >= buffer)
        value.resize(buffer - 1);
    return value;
}

// A track choice: nothing when absent; usable stays true only for a number.
std::optional<int> ReadTrack(const HttpRequest& request, const char* name, bool& usable)
{
    const std::string& query = request.QueryString();
    // GetRequestVar cannot tell an empty value from a missing one.
    const std::string key = std::string(name) + "=";
    bool present = query.starts_with(key) || query.find("&" + key) != std::string::npos;
    if (!present)
        return std::nullopt;
    const std::string value = GetRequestVar(request, name);
    std::optional<int64_t> number = ParseWholeNumber(value, 0, kMaxTrackNumber);
    if (!number) {
        usable = false;
        return std::nullopt;
    }
    return static_cast<int>(*number);
}

} // namespace

PlayInput ReadPlayInput(const HttpRequest& request)
{
    PlayInput input;
    input.id = ReadCut(request, "id", kIdChars);
    input.path = GetRequestVar(request, "path");
    input.width = ReadCut(request, "width", kShortChars);
    input.height = ReadCut(request, "height", kShortChars);
    input.ostype = ReadCut(request, "ostype", kShortChars);
    input.conntype = ReadCut(request, "conntype", kShortChars);
    input.playtime = ReadCut(request, "playtime", kShortChars);
    input.variants = ReadCut(request, "variants", kShortChars);
    input.audio = ReadTrack(request, "audio", input.tracksUsable);
    input.sub = ReadTrack(request, "sub", input.tracksUsable);
    return input;
}

std::optional<int> ParseScreenSide(const std::string& text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < kMinScreenSide || value > kMaxScreenSide)
        return std::nullopt;
    return value;
}

bool IsUsablePlayInput(const PlayInput& input)
{
    for (const std::string* value : { &input.id, &input.path, &input.width, &input.height,
             &input.ostype, &input.conntype, &input.playtime }) {
        if (value->empty())
            return false;
    }
    return input.tracksUsable && ParseScreenSide(input.width) && ParseScreenSide(input.height)
        && ParsePlayTime(input.playtime).has_value();
}
