#pragma once

// The HLS playlists of a live stream. A play request writes the master playlist
// "files.m3u8" and the variant playlists "movie1.m3u8" … "movie6.m3u8" into the
// session's work folder; they list every 5-second segment of the whole file in
// advance, before a single segment exists, and the segments are made on demand.

#include <cstdint>
#include <optional>
#include <string>

inline constexpr int kSegmentSeconds = 5;
inline constexpr int kPlaylistVariants = 6; // playlists written; 1 to 4 are encoded
inline constexpr const char* kMasterPlaylistName = "files.m3u8";

// The longest play time a stream may announce. Each segment costs a playlist line in
// six files, so an absurd time would fill the disk before anything plays.
inline constexpr int64_t kMaxPlaySeconds = 24 * 3600;

// Seconds of a play time "H:M:S" (fewer fields allowed: "H" or "H:M"; fields after
// the third are ignored). The seconds may carry a decimal fraction ("00:00:07.5",
// or only the point where a cut ended the text), which rounds up to the next whole
// second. nullopt when the text is empty, a field
// is not decimal digits, or the total passes kMaxPlaySeconds.
std::optional<int64_t> ParsePlayTime(const std::string& text);

// Number of 5-second segments that cover totalSeconds (the last one may be short).
int SegmentCountFor(int64_t totalSeconds);
// The same for a media duration in milliseconds.
int SegmentCountForDuration(int64_t durationMs);

// The BANDWIDTH a variant advertises (1 to 4), 0 for others.
int PresetBandwidth(int variant);

// "http://HOST:PORT/list/ID/movieV.m3u8", "…/list/ID/files.m3u8", "…/file/ID/vemba-V-n.ts".
std::string MakeVariantPlaylistUrl(
    const std::string& host, unsigned port, const std::string& clientId, int variant);
std::string MakeMasterPlaylistUrl(
    const std::string& host, unsigned port, const std::string& clientId);
std::string MakeSegmentUrl(
    const std::string& host, unsigned port, const std::string& clientId, int variant, int segment);

// "movieV.m3u8" and "vemba-V-n.ts".
std::string VariantPlaylistName(int variant);
std::string SegmentFileName(int variant, int segment);

// How the playlists name what they list. The phone client gets the absolute URLs of
// its protocol. The browser client gets URLs relative to the playlist itself
// ("movie1.m3u8", "../../file/ID/vemba-1-1.ts"), which lead back to this server under
// any scheme, host and path prefix the browser reached it by (a reverse proxy's, too),
// also in a browser's own HLS player, which follows them as they are written.
enum class PlaylistUrls { Absolute, Relative };

// The client OS type ("ostype" of "/play") of the browser client.
inline constexpr const char* kBrowserOsType = "web";

struct PlaylistTarget {
    std::string host; // the host the client connected under
    unsigned port = 0; // the external port
    std::string clientId;
    PlaylistUrls urls = PlaylistUrls::Absolute;
};

// Which variants the master playlist offers: with a fixed bandwidth ("FixedBandwidth"
// above 0) one variant by connection type, 1 on "WIFI" and 3 otherwise; else all four.
enum class MasterChoice { Preset1, Preset3, AllFour };
MasterChoice ChooseMasterVariants(int fixedBandwidth, const std::string& connType);

std::string MakeMasterPlaylist(const PlaylistTarget& target, MasterChoice choice);

// Lists segments 1 to segmentCount (at least one, so even a zero-length file
// gives a playable list).
std::string MakeVariantPlaylist(const PlaylistTarget& target, int variant, int segmentCount);

// Writes the master and the six variant playlists into folder, each through a
// temporary name and a rename so no reader ever sees half a playlist.
bool WritePlaylists(
    const std::string& folder, const PlaylistTarget& target, MasterChoice choice, int segmentCount);

// Writes the playlists of the session clientId for the play time and sets its
// nMaxTSNum to the segment count. 1 on success, 0 when no session has that id, the
// play time is not valid or the files cannot be written. The client's play time is
// only a claim: given the file's real duration, the count never passes what that
// duration needs, so no client can make the server list (and encode) a day of
// segments for a short clip. The work folder is remembered for clean-up at once.
class StreamingContext;
int QZ_MakeM3u8(StreamingContext& server, const std::string& clientId, const std::string& playTime,
    std::optional<int64_t> mediaDurationMs = std::nullopt);
