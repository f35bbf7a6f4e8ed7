#pragma once

// The query values of "/play", read and checked before anything is written. A
// screen side or play time that no real client sends (0×0, 100000×1, 99999 hours)
// would make the engine an empty picture or the playlists gigabytes long, so such
// values are refused like missing ones.

#include <optional>
#include <string>

class HttpRequest;

struct PlayInput {
    std::string id;
    std::string path; // as the client sent it (the request-path mapping decodes it)
    std::string width;
    std::string height;
    std::string ostype;
    std::string conntype;
    std::string playtime;
    // "browser" asks for the browser's variants (direct stream and HD); the phone
    // never sends it.
    std::string variants;
    // The browser's track choices (the phone sends neither): "audio", the audio stream
    // to play (0-based among the file's audio streams), and "sub", a subtitle stream to
    // burn into the picture. Absent: the first audio and no burnt-in stream. Present
    // but not a number from 0 to kMaxTrackNumber: the input is unusable.
    std::optional<int> audio;
    std::optional<int> sub;
    bool tracksUsable = true;
};

inline constexpr const char* kBrowserVariants = "browser";
inline constexpr int kMaxTrackNumber = 255;

// Reads the seven values; ids, screen sides, types and play time are cut to the
// lengths the session keeps (39 and 9 characters), the path is not cut.
PlayInput ReadPlayInput(const HttpRequest& request);

inline constexpr int kMinScreenSide = 16;
inline constexpr int kMaxScreenSide = 8192;

// A screen side in decimal digits within kMinScreenSide..kMaxScreenSide.
std::optional<int> ParseScreenSide(const std::string& text);

// True when every value is present and the screen, play time and track choices are
// usable.
bool IsUsablePlayInput(const PlayInput& input);
