#pragma once

// The request paths of a live stream: "/list/ID/NAME" names a playlist and
// "/file/ID/NAME" a segment of the session ID; the file is NAME in the session's
// work folder. Paths come from the network, so anything that could reach outside
// that folder or that no session could have written is refused here.

#include <optional>
#include <string>
#include <string_view>

struct LiveRequestPath {
    std::string clientId;
    std::string name; // the file name in the work folder
};

// Splits uri after prefix ("/list/" or "/file/") into the client id and one file
// name. nullopt when either is empty, there are further '/' components, or a
// component is "." or "..".
std::optional<LiveRequestPath> ParseLiveRequestPath(std::string_view uri, std::string_view prefix);

struct SegmentName {
    int variant = 0;
    int segment = 0;
};

// "vemba-V-n.ts" with V and n decimal (at most 9 digits each, n ≥ 1); nullopt for
// anything else.
std::optional<SegmentName> ParseSegmentName(std::string_view name);

// The variant of a variant playlist "movieV.m3u8" (V from 1 to kHighestVariant,
// without leading zeros); nullopt for the master playlist and anything else.
std::optional<int> ParseVariantPlaylistName(std::string_view name);

// True for the names "/list/" serves: the master and the variant playlists.
bool IsPlaylistName(std::string_view name);

// The session's work folder and a file in it.
std::string WorkFolderOf(const std::string& servicesFolder, const std::string& clientId);
std::string WorkFileOf(const std::string& servicesFolder, const LiveRequestPath& path);
