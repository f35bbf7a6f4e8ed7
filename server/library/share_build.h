#pragma once

// A whole share's walk written while it goes on. The walk (on the library index's
// thread, which also adds the folders' watches) hands each folder's files over, and a
// writer thread of this object's own writes them into the open transaction
// (LibraryIndexStore::WriteShare). On two cores the disk's answers to the walk and the
// database's work overlap, which matters most for the first build of a large share.
//
// Threads: the index's thread calls Add and Finish; the writer thread takes the
// batches. m_lock guards the queue and the walk's state, never a database call; the
// writer waits on m_changed for the next batch.

#include "library/library_index_store.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ShareBuild {
public:
    ShareBuild(LibraryIndexStore& store, std::string share, std::string shareFolder);
    // Abandons the writing unless Finish was called.
    ~ShareBuild();
    ShareBuild(const ShareBuild&) = delete;
    ShareBuild& operator=(const ShareBuild&) = delete;

    // The files of one folder.
    void Add(std::vector<IndexedFile>&& files);
    // The walk ended: complete, its files are committed; else nothing is written. Waits
    // for the writer; true when the share's rows were committed.
    bool Finish(bool complete, ReconcileCounts& counts);

private:
    enum class Walk { Going, Complete, Abandoned };

    void Write();
    FileBatch Next(std::vector<IndexedFile>& batch);

    LibraryIndexStore& m_store;
    const std::string m_share;
    const std::string m_shareFolder;

    std::mutex m_lock;
    std::condition_variable m_changed;
    // --- guarded by m_lock
    std::deque<std::vector<IndexedFile>> m_batches;
    Walk m_walk = Walk::Going;

    // Written by the writer thread before it ends, read after it is joined.
    bool m_written = false;
    ReconcileCounts m_counts;
    std::thread m_writer; // last: starts once the rest is set up
};
