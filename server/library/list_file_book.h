#pragma once

// The book of list files made and not yet fetched. A client that asks for listings and
// never fetches them would otherwise fill the services folder: each entry expires
// after a while, each client (by address) holds a bounded number, and so does the
// whole server. The book only decides; the caller deletes the files it names.
// Safe from any thread: every field below is guarded by m_lock.

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct ListFileLimits {
    std::chrono::steady_clock::duration lifetime = std::chrono::minutes(5);
    size_t perClient = 16;
    size_t total = 1000;
};

class ListFileBook {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit ListFileBook(Clock clock, ListFileLimits limits = {});

    // Records the list file name just made for client. The expired entries go first,
    // and when the client already holds its share its oldest entry goes too; doomed
    // receives the names whose files are to be deleted. False (name not recorded, its
    // file to be deleted by the caller) when the whole server is full even so.
    bool Enter(const std::string& client, const std::string& name, std::vector<std::string>& doomed,
        const std::string& ownerId = std::string());

    // The owner id of a file in the book (empty: anyone may fetch it); nothing when the
    // book does not hold the name.
    std::optional<std::string> OwnerOf(const std::string& name) const;

    // Drops the entry of a fetched (or failed) file; false when the book did not hold it.
    bool Remove(const std::string& name);

    // Forgets every entry (the files were swept).
    void Clear();

    size_t Count() const;

private:
    struct Entry {
        std::string client;
        std::string name;
        std::string ownerId;
        std::chrono::steady_clock::time_point made;
    };

    Clock m_clock;
    ListFileLimits m_limits;
    mutable std::mutex m_lock;
    std::deque<Entry> m_entries; // guarded by m_lock; oldest first
};
