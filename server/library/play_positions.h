#pragma once

// Where each person stopped: play positions by profile, kept in SQLite in the data
// folder ("Positions.sqlite"). A profile is a name a browser sends with its requests
// (no password of its own; the server's own password rule stands before it), made by
// its first saved position; a household has at most kMaxProfiles. A video played past
// kWatchedShare of its length counts as watched. Each profile keeps its most recent
// kMaxPositionsPerProfile positions.
//
// Threads: any number of callers at once, each through a connection of its own
// (sqlite_store.h); SQLite orders the writers.

#include "library/sqlite_store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kPlayPositionsDatabaseName = "Positions.sqlite";
inline constexpr const char* kDefaultProfile = "Home";
inline constexpr size_t kMaxProfiles = 20;
inline constexpr size_t kMaxProfileChars = 40;
inline constexpr size_t kMaxPositionsPerProfile = 5000;
inline constexpr double kWatchedShare = 0.9;

// 1 to kMaxProfileChars characters of UTF-8 text without control characters.
bool IsUsableProfileName(std::string_view name);

struct PlayPosition {
    std::string path; // the request path: "/Movies/Kids/a.mkv"
    double seconds = 0;
    double duration = 0; // 0 when unknown
    bool watched = false;
    int64_t updatedMs = 0; // when it was saved (milliseconds since the epoch)
};

struct ProfileSummary {
    std::string name;
    size_t positions = 0;
    int64_t updatedMs = 0; // the latest save, 0 when none is kept
};

enum class PositionFilter { All, Unfinished, Watched };

enum class SaveOutcome { Saved, TooManyProfiles, Failed };

class PlayPositions {
public:
    explicit PlayPositions(std::string databaseFile);

    // Keeps the position (the profile is made when new). nowMs orders the saves: a
    // save never gets an earlier time than the profile's latest.
    SaveOutcome Save(const std::string& profile, const std::string& path, double seconds,
        double duration, int64_t nowMs, PlayPosition& saved);
    // The position kept for the path; found is false when none is. False on failure.
    bool Find(
        const std::string& profile, const std::string& path, PlayPosition& position, bool& found);
    // The profile's positions, the latest first.
    std::optional<std::vector<PlayPosition>> List(
        const std::string& profile, PositionFilter filter, size_t limit);
    std::optional<std::vector<ProfileSummary>> Profiles();
    bool Forget(const std::string& profile, const std::string& path);
    bool DeleteProfile(const std::string& profile);
    // Makes the profile before its first position (a person chose it in a browser);
    // Saved also when it exists already.
    SaveOutcome CreateProfile(const std::string& profile, int64_t nowMs);

private:
    SqliteStore m_store;
};
