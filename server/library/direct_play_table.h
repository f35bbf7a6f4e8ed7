#pragma once

// The direct-play table: files that a phone may play as they are get a number, and
// the client fetches them under "/playdirect/file-<number>.m4v" instead of by path.
// Numbers count from 1 in the order paths are first asked for and are never reused.
// The table holds at most kDirectPlayCapacity paths: when a new one comes, the one
// least recently asked for (by path or by number) leaves, and its number is
// unknown from then on; asked for again, the path gets a new number. Handlers on
// many threads ask at once, so the table is read and changed under one lock, and
// two first requests for one path get one number. Each server owns one table.

#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

inline constexpr size_t kDirectPlayCapacity = 10000;

class DirectPlayTable {
public:
    // The path's number, giving it the next one when it has none yet.
    unsigned GetDirectPlayNumber(const std::string& filePath);
    // The path stored under number, or empty text when no path has it (any more).
    std::string FindDirectPlayPath(unsigned number);
    // Paths held now (tests).
    size_t DirectPlayEntryCount() const;

private:
    struct Entry {
        std::string path;
        std::list<unsigned>::iterator use; // its place in the use order
    };
    void MarkUsed(Entry& entry);
    void EvictLeastRecentlyUsed();

    mutable std::mutex m_lock;
    // --- guarded by m_lock
    std::unordered_map<std::string, unsigned> m_numbers;
    std::unordered_map<unsigned, Entry> m_entries;
    std::list<unsigned> m_useOrder; // most recently used first
    unsigned m_lastNumber = 0;
};

class LibraryContext;

// "http://<host>:<external port>/playdirect/file-<number>.m4v".
std::string MakeDirectPlayUrl(
    LibraryContext& server, const std::string& host, const std::string& filePath);
// The file path of a "/playdirect/" URI, or empty text for an unknown number.
std::string ResolveDirectPlayUri(LibraryContext& server, const std::string& uri);
