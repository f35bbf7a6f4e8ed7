#include "library/play_positions.h"

#include "library/text_codec.h"

#include <algorithm>
#include <sqlite3.h>

namespace {

constexpr int kPositionsLayout = 1;

constexpr const char* kSetupSql
    = "CREATE TABLE IF NOT EXISTS profiles("
      " name TEXT PRIMARY KEY NOT NULL, created INTEGER NOT NULL) WITHOUT ROWID;"
      "CREATE TABLE IF NOT EXISTS positions("
      " profile TEXT NOT NULL, path TEXT NOT NULL, seconds REAL NOT NULL,"
      " duration REAL NOT NULL, watched INTEGER NOT NULL, updated INTEGER NOT NULL,"
      " PRIMARY KEY(profile, path)) WITHOUT ROWID;"
      "CREATE INDEX IF NOT EXISTS positions_by_time ON positions(profile, updated);";

constexpr const char* kPositionColumns = "path, seconds, duration, watched, updated";

PlayPosition PositionOfRow(const SqlStatement& row)
{
    PlayPosition position;
    position.path = row.Text(0);
    position.seconds = row.Real(1);
    position.duration = row.Real(2);
    position.watched = row.Int(3) != 0;
    position.updatedMs = row.Int(4);
    return position;
}

// SQLITE_OK with exists set, or the error code.
int ProfileExists(sqlite3* db, const std::string& profile, bool& exists)
{
    SqlStatement query(db, "SELECT 1 FROM profiles WHERE name = ?1");
    const int code = query.Bind(1, profile).Step();
    exists = code == SQLITE_ROW;
    return code == SQLITE_ROW || code == SQLITE_DONE ? SQLITE_OK : code;
}

int CountRows(sqlite3* db, const char* sql, const std::string& profile, int64_t& count)
{
    SqlStatement query(db, sql);
    if (profile.size())
        query.Bind(1, profile);
    const int code = query.Step();
    count = code == SQLITE_ROW ? query.Int(0) : 0;
    return code == SQLITE_ROW ? SQLITE_OK : code;
}

// Makes the profile when it is new; SQLITE_FULL stands for "no room for another".
int EnsureProfile(sqlite3* db, const std::string& profile, int64_t nowMs)
{
    bool exists = false;
    int code = ProfileExists(db, profile, exists);
    if (code != SQLITE_OK || exists)
        return code;
    int64_t profiles = 0;
    code = CountRows(db, "SELECT count(*) FROM profiles", {}, profiles);
    if (code != SQLITE_OK)
        return code;
    if (profiles >= int64_t(kMaxProfiles))
        return SQLITE_FULL;
    SqlStatement insert(db, "INSERT INTO profiles(name, created) VALUES (?1, ?2)");
    return insert.Bind(1, profile).Bind(2, nowMs).Run();
}

int TrimProfile(sqlite3* db, const std::string& profile)
{
    SqlStatement trim(db,
        "DELETE FROM positions WHERE profile = ?1 AND path IN (SELECT path FROM positions"
        " WHERE profile = ?1 ORDER BY updated DESC LIMIT -1 OFFSET ?2)");
    return trim.Bind(1, profile).Bind(2, int64_t(kMaxPositionsPerProfile)).Run();
}

int WritePosition(sqlite3* db, const std::string& profile, PlayPosition& position, int64_t nowMs)
{
    int64_t latest = 0;
    int code = CountRows(
        db, "SELECT coalesce(max(updated), 0) FROM positions WHERE profile = ?1", profile, latest);
    if (code != SQLITE_OK)
        return code;
    position.updatedMs = std::max(nowMs, latest + 1);
    SqlStatement write(db,
        "INSERT OR REPLACE INTO positions(profile, path, seconds, duration, watched, updated)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    write.Bind(1, profile).Bind(2, position.path);
    write.BindReal(3, position.seconds).BindReal(4, position.duration);
    write.Bind(5, int64_t(position.watched ? 1 : 0)).Bind(6, position.updatedMs);
    return write.Run();
}

} // namespace

bool IsUsableProfileName(std::string_view name)
{
    std::u32string points;
    if (name.empty() || !textcodec::DecodeUtf8(name, points) || points.size() > kMaxProfileChars)
        return false;
    return std::none_of(points.begin(), points.end(),
        [](char32_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); });
}

PlayPositions::PlayPositions(std::string databaseFile)
    : m_store(std::move(databaseFile), kSetupSql, kPositionsLayout)
{
}

SaveOutcome PlayPositions::Save(const std::string& profile, const std::string& path, double seconds,
    double duration, int64_t nowMs, PlayPosition& saved)
{
    bool full = false;
    const bool ok = m_store.Run([&](sqlite3* db) {
        SqlTransaction transaction(db);
        if (transaction.BeginCode() != SQLITE_OK)
            return transaction.BeginCode();
        int code = EnsureProfile(db, profile, nowMs);
        if (code == SQLITE_FULL) {
            full = true;
            return SQLITE_OK; // rolled back: nothing was written
        }
        saved.path = path;
        saved.seconds = seconds;
        saved.duration = duration;
        saved.watched = duration > 0 && seconds >= kWatchedShare * duration;
        if (code == SQLITE_OK)
            code = WritePosition(db, profile, saved, nowMs);
        if (code == SQLITE_OK)
            code = TrimProfile(db, profile);
        return code == SQLITE_OK ? transaction.Commit() : code;
    });
    if (full)
        return SaveOutcome::TooManyProfiles;
    return ok ? SaveOutcome::Saved : SaveOutcome::Failed;
}

bool PlayPositions::Find(
    const std::string& profile, const std::string& path, PlayPosition& position, bool& found)
{
    found = false;
    return m_store.Run([&](sqlite3* db) {
        SqlStatement query(db,
            std::string("SELECT ") + kPositionColumns
                + " FROM positions WHERE profile = ?1 AND path = ?2");
        const int code = query.Bind(1, profile).Bind(2, path).Step();
        if (code == SQLITE_ROW) {
            position = PositionOfRow(query);
            found = true;
        }
        return code == SQLITE_ROW ? SQLITE_OK : code;
    });
}

std::optional<std::vector<PlayPosition>> PlayPositions::List(
    const std::string& profile, PositionFilter filter, size_t limit)
{
    std::string sql
        = std::string("SELECT ") + kPositionColumns + " FROM positions WHERE profile = ?1";
    if (filter == PositionFilter::Unfinished)
        sql += " AND watched = 0";
    else if (filter == PositionFilter::Watched)
        sql += " AND watched = 1";
    sql += " ORDER BY updated DESC LIMIT ?2";
    std::vector<PlayPosition> positions;
    const bool ok = m_store.Run([&](sqlite3* db) {
        positions.clear();
        SqlStatement query(db, sql);
        query.Bind(1, profile).Bind(2, int64_t(limit));
        int code = query.Step();
        for (; code == SQLITE_ROW; code = query.Step())
            positions.push_back(PositionOfRow(query));
        return code;
    });
    if (!ok)
        return std::nullopt;
    return positions;
}

std::optional<std::vector<ProfileSummary>> PlayPositions::Profiles()
{
    std::vector<ProfileSummary> profiles;
    const bool ok = m_store.Run([&](sqlite3* db) {
        profiles.clear();
        SqlStatement query(db,
            "SELECT p.name, count(x.path), coalesce(max(x.updated), 0) FROM profiles p"
            " LEFT JOIN positions x ON x.profile = p.name GROUP BY p.name ORDER BY p.created, "
            "p.name");
        int code = query.Step();
        for (; code == SQLITE_ROW; code = query.Step())
            profiles.push_back({ query.Text(0), static_cast<size_t>(query.Int(1)), query.Int(2) });
        return code;
    });
    if (!ok)
        return std::nullopt;
    return profiles;
}

bool PlayPositions::Forget(const std::string& profile, const std::string& path)
{
    return m_store.Run([&](sqlite3* db) {
        SqlStatement remove(db, "DELETE FROM positions WHERE profile = ?1 AND path = ?2");
        return remove.Bind(1, profile).Bind(2, path).Run();
    });
}

SaveOutcome PlayPositions::CreateProfile(const std::string& profile, int64_t nowMs)
{
    bool full = false;
    const bool ok = m_store.Run([&](sqlite3* db) {
        SqlTransaction transaction(db);
        if (transaction.BeginCode() != SQLITE_OK)
            return transaction.BeginCode();
        const int code = EnsureProfile(db, profile, nowMs);
        full = code == SQLITE_FULL;
        if (full)
            return SQLITE_OK; // rolled back: nothing was written
        return code == SQLITE_OK ? transaction.Commit() : code;
    });
    if (full)
        return SaveOutcome::TooManyProfiles;
    return ok ? SaveOutcome::Saved : SaveOutcome::Failed;
}

bool PlayPositions::DeleteProfile(const std::string& profile)
{
    return m_store.Run([&](sqlite3* db) {
        SqlTransaction transaction(db);
        if (transaction.BeginCode() != SQLITE_OK)
            return transaction.BeginCode();
        SqlStatement positions(db, "DELETE FROM positions WHERE profile = ?1");
        int code = positions.Bind(1, profile).Run();
        if (code == SQLITE_OK) {
            SqlStatement entry(db, "DELETE FROM profiles WHERE name = ?1");
            code = entry.Bind(1, profile).Run();
        }
        return code == SQLITE_OK ? transaction.Commit() : code;
    });
}
