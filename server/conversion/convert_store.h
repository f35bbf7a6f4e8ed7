#pragma once

// The conversion queue kept on disk: an SQLite database in the data folder, one row
// per job in queue order, so neither a crash nor a stop loses a job. A job keeps its
// convert id. At the next start the waiting jobs wait again, the one that was
// converting waits again from the beginning, and the temporary file every unfinished
// job may have left (the engine writes it beside the source) is found through its row
// and removed.
//
// Threads: the queue's worker, the server's notice queue and request handlers write
// rows. The connection runs in SQLite's serialized mode and is shared: m_lock guards
// only which connection is current (a damaged file gets a new one), never a database
// call, and a connection closes when its last user lets it go. The store is only a record: a
// database that cannot be opened keeps nothing, one that is damaged is replaced by an empty one,
// and no failure here stops a conversion.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ConversionContext;
class ConvertInfo_t;

// The database's file in the data folder.
inline constexpr const char* kConvertJobsDatabaseName = "Conversions.sqlite";

// What a row holds of a job.
struct StoredConvertJob {
    std::string convertId;
    std::string sourcePath; // as the client sent it, or the dropped file's path
    std::string localSource; // a dropped file's own path; empty for client jobs
    std::string outputPath; // the temporary output
    std::string filePath; // the record's media path (subtitles)
    int width = 0;
    int height = 0;
    int bitrate = 0;
    int state = 0;
    int progress = 0;
};

class ConvertJobStore {
public:
    // databaseFile empty: keeps nothing.
    explicit ConvertJobStore(std::string databaseFile);
    ~ConvertJobStore();
    ConvertJobStore(const ConvertJobStore&) = delete;
    ConvertJobStore& operator=(const ConvertJobStore&) = delete;

    // The rows in queue order.
    std::vector<StoredConvertJob> Load();
    // Adds the job's row at the end of the queue, or updates its state and progress.
    void Keep(const StoredConvertJob& job);
    void Forget(const std::string& convertId);

    struct Connection;

private:
    // Runs work on the connection, opening it first; a damaged file is replaced once.
    template <typename Work> void WithDatabase(Work work);
    std::shared_ptr<Connection> Current();
    void Discard(const std::shared_ptr<Connection>& damaged);

    const std::string m_file;
    std::mutex m_lock;
    std::shared_ptr<Connection> m_connection; // guarded by m_lock
};

StoredConvertJob StoredJobOf(const ConvertInfo_t& job);

// The jobs of the store as queue jobs of server: converting ones wait again, and the
// temporary output of every unfinished job is removed.
std::vector<std::shared_ptr<ConvertInfo_t>> RestoreConvertJobs(
    ConversionContext& server, ConvertJobStore& store);
