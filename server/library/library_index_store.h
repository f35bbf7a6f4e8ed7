#pragma once

// The library index's database: every video of the shares, by share and path below
// the share's folder, with its size, modification time and the time it was added,
// and a trigram table over the names' search keys (name_search.h). It sits in the data
// folder beside the media-properties cache and can always be built again from the
// disks: a damaged file is simply replaced.
//
// Threads: the index's own thread writes; HTTP workers read at the same time, each
// through a connection of its own (sqlite_store.h).

#include "library/name_search.h"
#include "library/sqlite_store.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

inline constexpr const char* kLibraryIndexDatabaseName = "LibraryIndex.sqlite";

struct IndexedFile {
    std::string share; // the share's name
    std::string relativePath; // below the share's folder: "Kids/a.mkv"
    int64_t size = 0;
    int64_t modifiedNs = 0;
    int64_t addedNs = 0; // nanoseconds since the epoch

    // The file's name: the last component of the path.
    std::string Name() const;
    // The path a request names it by: "/Share/Kids/a.mkv".
    std::string RequestPath() const;
};

// One change the index's thread found (a batch of them is written at once).
struct IndexChange {
    enum class Kind {
        Put, // the file is there: added (with its added time) or its stamp updated
        Remove, // the file at relativePath is gone
        RemoveFolder, // everything below the folder relativePath is gone
    };
    Kind kind = Kind::Put;
    IndexedFile file; // share and relativePath always; the rest for Put
};

// What a reconciliation changed.
struct ReconcileCounts {
    size_t added = 0;
    size_t updated = 0;
    size_t removed = 0;
};

// Where the files of a share's walk come from while it goes on: fills batch and tells
// whether more may come.
enum class FileBatch {
    More, // batch holds some files; ask again
    Last, // batch holds the last files (maybe none)
    Abandoned, // the walk stopped short: nothing is to be written
};
using FileBatches = std::function<FileBatch(std::vector<IndexedFile>& batch)>;

class LibraryIndexStore {
public:
    explicit LibraryIndexStore(std::string databaseFile);

    const std::string& File() const { return m_store.File(); }

    // The shares as last indexed: name and folder.
    std::optional<std::vector<std::pair<std::string, std::string>>> Shares();
    // Everything of the share goes, and the share with it.
    bool DropShare(const std::string& share);
    // Makes what is stored below folder ("" the whole share, else "Kids/") of the
    // share exactly files: missing ones are added (with their added time), changed
    // ones updated (their added time kept), the rest removed. Records the share's
    // folder when folder is "".
    bool Reconcile(const std::string& share, const std::string& shareFolder,
        const std::string& folder, const std::vector<IndexedFile>& files, ReconcileCounts& counts);
    // Reconcile of a whole share whose files come in batches from next, written as they
    // come; one transaction, committed after the last batch. The first build into an
    // empty database makes the table's indexes after its rows.
    bool WriteShare(const std::string& share, const std::string& shareFolder,
        const FileBatches& next, ReconcileCounts& counts);
    // Writes a batch of changes in one transaction.
    bool Apply(const std::vector<IndexChange>& changes);

    // Files whose names hold every word, newest first; more tells whether there are
    // more beyond limit. Nothing on failure.
    std::optional<std::vector<IndexedFile>> Search(
        const SearchWords& words, size_t limit, size_t offset, bool& more);
    // The newest files first.
    std::optional<std::vector<IndexedFile>> Recent(size_t limit, size_t offset, bool& more);
    // One file, when indexed.
    std::optional<IndexedFile> Find(const std::string& share, const std::string& relativePath);
    // How many files are indexed.
    std::optional<size_t> Count();

private:
    SqliteStore m_store;
};
