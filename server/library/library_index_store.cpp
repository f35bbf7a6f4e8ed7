#include "library/library_index_store.h"

#include <iterator>
#include <optional>
#include <sqlite3.h>
#include <unordered_map>

namespace {

// Layout 2: the trigram table indexes the files' own key column (external content), so a
// name is written once.
constexpr int kIndexLayout = 2;

// The two indexes of the files table, apart: a first build makes them after its rows.
constexpr const char* kFileIndexesSql
    = "CREATE UNIQUE INDEX IF NOT EXISTS files_by_path ON files(share, rel);"
      "CREATE INDEX IF NOT EXISTS files_by_added ON files(added, id);";

std::string SetupSql()
{
    return std::string("CREATE TABLE IF NOT EXISTS shares("
                       " name TEXT PRIMARY KEY NOT NULL, folder TEXT NOT NULL) WITHOUT ROWID;"
                       "CREATE TABLE IF NOT EXISTS files("
                       " id INTEGER PRIMARY KEY, share TEXT NOT NULL, rel TEXT NOT NULL,"
                       " key TEXT NOT NULL, size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL,"
                       " added INTEGER NOT NULL);")
        + kFileIndexesSql
        // No per-row token counts (columnsize=0): nothing here ranks, and they would
        // double the table's cost to build.
        + "CREATE VIRTUAL TABLE IF NOT EXISTS names USING fts5(key, content='files',"
          " content_rowid='id', tokenize='trigram', columnsize=0);";
}

constexpr const char* kFileColumns = "share, rel, size, mtime_ns, added";

IndexedFile FileOfRow(const SqlStatement& row)
{
    IndexedFile file;
    file.share = row.Text(0);
    file.relativePath = row.Text(1);
    file.size = row.Int(2);
    file.modifiedNs = row.Int(3);
    file.addedNs = row.Int(4);
    return file;
}

std::string LastComponent(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The first text after every text that starts with folder ("Kids/" gives "Kids0").
std::string PastFolder(const std::string& folder)
{
    std::string end = folder;
    end.back() = static_cast<char>(end.back() + 1);
    return end;
}

// The statements of one writing transaction.
class IndexWriter {
public:
    explicit IndexWriter(sqlite3* db)
        : m_db(db)
        , m_findId(db, "SELECT id FROM files WHERE share = ?1 AND rel = ?2")
        , m_insert(db,
              "INSERT INTO files(share, rel, key, size, mtime_ns, added)"
              " VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
        , m_insertName(db, "INSERT INTO names(rowid, key) VALUES (?1, ?2)")
        , m_update(db, "UPDATE files SET size = ?2, mtime_ns = ?3 WHERE id = ?1")
        , m_delete(db, "DELETE FROM files WHERE id = ?1")
        // The trigram table forgets a row by the key it indexed, read before the row goes.
        , m_deleteName(db,
              "INSERT INTO names(names, rowid, key) SELECT 'delete', id, key FROM files"
              " WHERE id = ?1")
    {
    }

    int Prepared() const
    {
        for (const SqlStatement* s :
            { &m_findId, &m_insert, &m_insertName, &m_update, &m_delete, &m_deleteName }) {
            if (s->PrepareCode() != SQLITE_OK)
                return s->PrepareCode();
        }
        return SQLITE_OK;
    }

    // The row id of a stored file, or -1.
    int64_t FindId(const std::string& share, const std::string& rel)
    {
        m_findId.Bind(1, share).Bind(2, rel);
        const int64_t id = m_findId.Step() == SQLITE_ROW ? m_findId.Int(0) : -1;
        m_findId.Reset();
        return id;
    }

    int Insert(const IndexedFile& file)
    {
        const std::string key = SearchKey(LastComponent(file.relativePath));
        int code = m_insert.Bind(1, file.share)
                       .Bind(2, file.relativePath)
                       .Bind(3, key)
                       .Bind(4, file.size)
                       .Bind(5, file.modifiedNs)
                       .Bind(6, file.addedNs)
                       .Run();
        if (code != SQLITE_OK)
            return code;
        return m_insertName.Bind(1, int64_t(sqlite3_last_insert_rowid(m_db))).Bind(2, key).Run();
    }

    int Update(int64_t id, const IndexedFile& file)
    {
        return m_update.Bind(1, id).Bind(2, file.size).Bind(3, file.modifiedNs).Run();
    }

    int Delete(int64_t id)
    {
        const int code = m_deleteName.Bind(1, id).Run();
        return code == SQLITE_OK ? m_delete.Bind(1, id).Run() : code;
    }

    int Put(const IndexedFile& file)
    {
        const int64_t id = FindId(file.share, file.relativePath);
        return id >= 0 ? Update(id, file) : Insert(file);
    }

    int Remove(const std::string& share, const std::string& rel)
    {
        const int64_t id = FindId(share, rel);
        return id >= 0 ? Delete(id) : SQLITE_OK;
    }

    // Ids of the rows below folder ("" the whole share), with their paths and stamps.
    struct Stored {
        int64_t id;
        int64_t size;
        int64_t modifiedNs;
    };
    int StoredBelow(const std::string& share, const std::string& folder,
        std::unordered_map<std::string, Stored>& rows)
    {
        SqlStatement read(m_db,
            folder.empty() ? "SELECT id, rel, size, mtime_ns FROM files WHERE share = ?1"
                           : "SELECT id, rel, size, mtime_ns FROM files"
                             " WHERE share = ?1 AND rel >= ?2 AND rel < ?3");
        read.Bind(1, share);
        if (!folder.empty())
            read.Bind(2, folder).Bind(3, PastFolder(folder));
        int code = read.Step();
        for (; code == SQLITE_ROW; code = read.Step())
            rows[read.Text(1)] = { read.Int(0), read.Int(2), read.Int(3) };
        return code == SQLITE_DONE ? SQLITE_OK : code;
    }

    int RemoveBelow(const std::string& share, const std::string& folder)
    {
        std::unordered_map<std::string, Stored> rows;
        int code = StoredBelow(share, folder, rows);
        for (auto it = rows.begin(); code == SQLITE_OK && it != rows.end(); ++it)
            code = Delete(it->second.id);
        return code;
    }

private:
    sqlite3* m_db;
    SqlStatement m_findId, m_insert, m_insertName, m_update, m_delete, m_deleteName;
};

int ApplyChange(IndexWriter& writer, const IndexChange& change)
{
    switch (change.kind) {
    case IndexChange::Kind::Put:
        return writer.Put(change.file);
    case IndexChange::Kind::Remove:
        return writer.Remove(change.file.share, change.file.relativePath);
    case IndexChange::Kind::RemoveFolder:
        return writer.RemoveBelow(change.file.share, change.file.relativePath + "/");
    }
    return SQLITE_MISUSE;
}

// empty: no file is stored at all (the first start, or every share gone).
int HoldsNoFiles(sqlite3* db, bool& empty)
{
    SqlStatement query(db, "SELECT 1 FROM files LIMIT 1");
    const int code = query.Step();
    empty = code == SQLITE_DONE;
    return code == SQLITE_ROW || code == SQLITE_DONE ? SQLITE_OK : code;
}

// Writes what a walk found below folder ("" the whole share), file by file, in the
// caller's transaction. Into an empty database (the first build of a whole share) the
// rows go in without the table's two indexes, which are then made in one sorted pass
// each: much cheaper than keeping them up to date row by row. (The trigram table is
// kept row by row all the same: its work then overlaps the walk, where one pass at the
// end would wait for it.) Being one transaction, a failure or a crash leaves the empty
// database as it was, indexes included. Otherwise each file is compared with the
// stored rows: missing ones added, changed ones updated (their added time kept), and at
// the end the rows no file matched are removed.
class RowMerge {
public:
    RowMerge(
        sqlite3* db, const std::string& share, const std::string& folder, ReconcileCounts& counts)
        : m_db(db)
        , m_share(share)
        , m_folder(folder)
        , m_counts(counts)
    {
    }

    int Begin()
    {
        m_counts = {};
        int code = m_folder.empty() ? HoldsNoFiles(m_db, m_bulk) : SQLITE_OK;
        if (code == SQLITE_OK && m_bulk)
            code = ExecuteSql(m_db, "DROP INDEX files_by_path; DROP INDEX files_by_added;");
        if (code != SQLITE_OK)
            return code;
        m_writer.emplace(m_db);
        code = m_writer->Prepared();
        if (code == SQLITE_OK && !m_bulk)
            code = m_writer->StoredBelow(m_share, m_folder, m_stored);
        return code;
    }

    int Add(const IndexedFile& file)
    {
        auto found = m_bulk ? m_stored.end() : m_stored.find(file.relativePath);
        if (found == m_stored.end()) {
            ++m_counts.added;
            return m_writer->Insert(file);
        }
        int code = SQLITE_OK;
        if (found->second.size != file.size || found->second.modifiedNs != file.modifiedNs) {
            code = m_writer->Update(found->second.id, file);
            ++m_counts.updated;
        }
        m_stored.erase(found);
        return code;
    }

    int Finish()
    {
        if (m_bulk)
            return ExecuteSql(m_db, kFileIndexesSql);
        int code = SQLITE_OK;
        for (auto it = m_stored.begin(); code == SQLITE_OK && it != m_stored.end(); ++it) {
            code = m_writer->Delete(it->second.id);
            ++m_counts.removed;
        }
        return code;
    }

private:
    sqlite3* m_db;
    const std::string& m_share;
    const std::string& m_folder;
    ReconcileCounts& m_counts;
    bool m_bulk = false;
    std::optional<IndexWriter> m_writer;
    std::unordered_map<std::string, IndexWriter::Stored> m_stored;
};

int RecordShare(sqlite3* db, const std::string& share, const std::string& shareFolder)
{
    SqlStatement entry(db, "INSERT OR REPLACE INTO shares(name, folder) VALUES (?1, ?2)");
    return entry.Bind(1, share).Bind(2, shareFolder).Run();
}

int ReadFiles(SqlStatement& query, size_t limit, std::vector<IndexedFile>& files, bool& more)
{
    int code = query.Step();
    for (; code == SQLITE_ROW; code = query.Step()) {
        if (files.size() == limit) {
            more = true;
            return SQLITE_OK;
        }
        files.push_back(FileOfRow(query));
    }
    return code == SQLITE_DONE ? SQLITE_OK : code;
}

} // namespace

std::string IndexedFile::Name() const
{
    return LastComponent(relativePath);
}

std::string IndexedFile::RequestPath() const
{
    return "/" + share + "/" + relativePath;
}

LibraryIndexStore::LibraryIndexStore(std::string databaseFile)
    : m_store(std::move(databaseFile), SetupSql(), kIndexLayout)
{
}

std::optional<std::vector<std::pair<std::string, std::string>>> LibraryIndexStore::Shares()
{
    std::vector<std::pair<std::string, std::string>> shares;
    const bool ok = m_store.Run([&](sqlite3* db) {
        SqlStatement read(db, "SELECT name, folder FROM shares");
        int code = read.Step();
        for (; code == SQLITE_ROW; code = read.Step())
            shares.emplace_back(read.Text(0), read.Text(1));
        return code;
    });
    if (!ok)
        return std::nullopt;
    return shares;
}

bool LibraryIndexStore::DropShare(const std::string& share)
{
    return m_store.Run([&](sqlite3* db) {
        SqlTransaction transaction(db);
        if (transaction.BeginCode() != SQLITE_OK)
            return transaction.BeginCode();
        int code = SQLITE_OK;
        {
            SqlStatement names(db,
                "INSERT INTO names(names, rowid, key) SELECT 'delete', id, key FROM files"
                " WHERE share = ?1");
            code = names.Bind(1, share).Run();
        }
        if (code == SQLITE_OK) {
            SqlStatement files(db, "DELETE FROM files WHERE share = ?1");
            code = files.Bind(1, share).Run();
        }
        if (code == SQLITE_OK) {
            SqlStatement entry(db, "DELETE FROM shares WHERE name = ?1");
            code = entry.Bind(1, share).Run();
        }
        return code == SQLITE_OK ? transaction.Commit() : code;
    });
}

bool LibraryIndexStore::Reconcile(const std::string& share, const std::string& shareFolder,
    const std::string& folder, const std::vector<IndexedFile>& files, ReconcileCounts& counts)
{
    return m_store.Run([&](sqlite3* db) {
        SqlTransaction transaction(db);
        if (transaction.BeginCode() != SQLITE_OK)
            return transaction.BeginCode();
        RowMerge merge(db, share, folder, counts);
        int code = merge.Begin();
        for (size_t i = 0; code == SQLITE_OK && i < files.size(); ++i)
            code = merge.Add(files[i]);
        if (code == SQLITE_OK)
            code = merge.Finish();
        if (code == SQLITE_OK && folder.empty())
            code = RecordShare(db, share, shareFolder);
        return code == SQLITE_OK ? transaction.Commit() : code;
    });
}

bool LibraryIndexStore::WriteShare(const std::string& share, const std::string& shareFolder,
    const FileBatches& next, ReconcileCounts& counts)
{
    // Every file taken so far: should the file be replaced and the work run again, it
    // starts again from these.
    std::vector<IndexedFile> taken;
    bool ended = false;
    return m_store.Run([&](sqlite3* db) {
        SqlTransaction transaction(db);
        if (transaction.BeginCode() != SQLITE_OK)
            return transaction.BeginCode();
        RowMerge merge(db, share, "", counts);
        int code = merge.Begin();
        size_t written = 0;
        while (code == SQLITE_OK) {
            for (; code == SQLITE_OK && written < taken.size(); ++written)
                code = merge.Add(taken[written]);
            if (code != SQLITE_OK || ended)
                break;
            std::vector<IndexedFile> batch;
            const FileBatch state = next(batch);
            if (state == FileBatch::Abandoned)
                return SQLITE_ABORT; // rolled back: a part of a share replaces nothing
            ended = state == FileBatch::Last;
            std::move(batch.begin(), batch.end(), std::back_inserter(taken));
        }
        if (code == SQLITE_OK)
            code = merge.Finish();
        if (code == SQLITE_OK)
            code = RecordShare(db, share, shareFolder);
        return code == SQLITE_OK ? transaction.Commit() : code;
    });
}

bool LibraryIndexStore::Apply(const std::vector<IndexChange>& changes)
{
    if (changes.empty())
        return true;
    return m_store.Run([&](sqlite3* db) {
        SqlTransaction transaction(db);
        if (transaction.BeginCode() != SQLITE_OK)
            return transaction.BeginCode();
        IndexWriter writer(db);
        int code = writer.Prepared();
        for (size_t i = 0; code == SQLITE_OK && i < changes.size(); ++i)
            code = ApplyChange(writer, changes[i]);
        return code == SQLITE_OK ? transaction.Commit() : code;
    });
}

std::optional<std::vector<IndexedFile>> LibraryIndexStore::Search(
    const SearchWords& words, size_t limit, size_t offset, bool& more)
{
    std::string sql = std::string("SELECT ") + kFileColumns + " FROM files WHERE 1";
    int parameter = 1;
    std::string match;
    if (!words.trigramWords.empty()) {
        for (const std::string& word : words.trigramWords)
            match += (match.empty() ? "" : " ") + QuotedMatchWord(word);
        sql += " AND id IN (SELECT rowid FROM names WHERE names MATCH ?"
            + std::to_string(parameter++) + ")";
    }
    for (size_t i = 0; i < words.shortWords.size(); ++i)
        sql += " AND key LIKE ?" + std::to_string(parameter++) + " ESCAPE '\\'";
    sql += " ORDER BY added DESC, id DESC LIMIT ?" + std::to_string(parameter) + " OFFSET ?"
        + std::to_string(parameter + 1);

    std::vector<IndexedFile> files;
    more = false;
    const bool ok = m_store.Run([&](sqlite3* db) {
        files.clear();
        SqlStatement query(db, sql);
        if (query.PrepareCode() != SQLITE_OK)
            return query.PrepareCode();
        int index = 1;
        if (!match.empty())
            query.Bind(index++, match);
        for (const std::string& word : words.shortWords)
            query.Bind(index++, ContainsPattern(word));
        query.Bind(index, int64_t(limit + 1));
        query.Bind(index + 1, int64_t(offset));
        return ReadFiles(query, limit, files, more);
    });
    if (!ok)
        return std::nullopt;
    return files;
}

std::optional<std::vector<IndexedFile>> LibraryIndexStore::Recent(
    size_t limit, size_t offset, bool& more)
{
    std::vector<IndexedFile> files;
    more = false;
    const bool ok = m_store.Run([&](sqlite3* db) {
        files.clear();
        SqlStatement query(db,
            std::string("SELECT ") + kFileColumns
                + " FROM files ORDER BY added DESC, id DESC LIMIT ?1 OFFSET ?2");
        query.Bind(1, int64_t(limit + 1)).Bind(2, int64_t(offset));
        return ReadFiles(query, limit, files, more);
    });
    if (!ok)
        return std::nullopt;
    return files;
}

std::optional<IndexedFile> LibraryIndexStore::Find(
    const std::string& share, const std::string& relativePath)
{
    std::optional<IndexedFile> found;
    const bool ok = m_store.Run([&](sqlite3* db) {
        SqlStatement query(db,
            std::string("SELECT ") + kFileColumns + " FROM files WHERE share = ?1 AND rel = ?2");
        query.Bind(1, share).Bind(2, relativePath);
        const int code = query.Step();
        if (code == SQLITE_ROW)
            found = FileOfRow(query);
        return code == SQLITE_ROW ? SQLITE_OK : code;
    });
    return ok ? found : std::nullopt;
}

std::optional<size_t> LibraryIndexStore::Count()
{
    size_t count = 0;
    const bool ok = m_store.Run([&](sqlite3* db) {
        SqlStatement query(db, "SELECT count(*) FROM files");
        const int code = query.Step();
        if (code == SQLITE_ROW)
            count = static_cast<size_t>(query.Int(0));
        return code == SQLITE_ROW ? SQLITE_OK : code;
    });
    if (!ok)
        return std::nullopt;
    return count;
}
