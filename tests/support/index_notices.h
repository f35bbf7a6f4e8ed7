#pragma once

// The library index's notices as a test sees them: every notice is kept in order, and
// a test waits for the one it needs (written to the database before it is told)
// instead of sleeping. Marks let a test wait only for notices after a step of its own.

#include "library/library_index.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace vembatest {

class IndexNoticeLog {
public:
    IndexObserver Observer()
    {
        return [this](const IndexNotice& notice) {
            std::lock_guard lock(m_lock);
            m_notices.push_back(notice);
            m_changed.notify_all();
        };
    }

    // The number of notices so far: wait for later ones with from = Mark().
    size_t Mark()
    {
        std::lock_guard lock(m_lock);
        return m_notices.size();
    }

    // Waits for a notice of that kind, share and path at or after position from;
    // false when none came within the bound (a fault: the bound only keeps the test
    // from hanging).
    bool WaitFor(IndexNotice::Kind kind, const std::string& share,
        const std::string& relativePath = "", size_t from = 0,
        std::chrono::seconds bound = std::chrono::seconds(60))
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, bound, [&] {
            for (size_t i = from; i < m_notices.size(); ++i) {
                const IndexNotice& n = m_notices[i];
                if (n.kind == kind && n.share == share && n.relativePath == relativePath)
                    return true;
            }
            return false;
        });
    }

    // True when any notice at or after from named the path (ending with it).
    bool Named(const std::string& pathEnd, size_t from = 0)
    {
        std::lock_guard lock(m_lock);
        for (size_t i = from; i < m_notices.size(); ++i) {
            if (m_notices[i].relativePath.ends_with(pathEnd))
                return true;
        }
        return false;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<IndexNotice> m_notices; // guarded by m_lock
};

} // namespace vembatest
