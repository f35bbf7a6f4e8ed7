#pragma once

// The record "/subtitle" draws from: the conversion job or live session of the last
// id asked for, cached, with its subtitle entries read from the SAMI file beside its
// video the first time they are needed, and again after the session released them.
//
// Threads: HTTP workers ask at once; m_lock guards the cached id and record and is
// never held while the queue or the sessions are searched or a file is read.

#include "streaming/client_info.h"

#include <memory>
#include <mutex>
#include <string>

class ConversionContext;
class SharedFolderList;

class SubtitleRecordCache {
public:
    // The job (first) or session of id, or null.
    std::shared_ptr<CommonInfo_t> FindRecord(ConversionContext& server, const std::string& id);
    // Fills the record's entries from the SAMI file beside its video when it has none,
    // unless that file was read already and gave nothing.
    void FillEntries(const SharedFolderList& shares, CommonInfo_t& record);

private:
    std::mutex m_lock;
    // --- guarded by m_lock
    std::string m_id;
    std::weak_ptr<CommonInfo_t> m_record;
    std::string m_loadedPath; // the file whose entries were read last
    bool m_loadedAny = false; // that reading gave entries
};
