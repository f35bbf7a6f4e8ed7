#pragma once

// The process-wide session list and the list of running live engines.
//
// Sessions are appended by "/connect" in the order clients connect and live until
// the whole list is released (server stop, program exit); there is no removal of a
// single session. Two sessions may carry one id: finding always returns the earlier.
// The ENC session list holds the process id of every session engine that runs; its
// length is what "MaxLIveClient" limits.
//
// Threads: HTTP workers append and search at once; each list has its own lock and
// no lock is held while an engine is started or stopped.

#include "streaming/client_info.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Appends a new idle session with this id (no check for an existing one) and
// returns it.
std::shared_ptr<ClientInfo> QZ_AddClientInfo(const std::string& clientId);

// The first session with exactly this id, or null.
std::shared_ptr<ClientInfo> QZ_FindClientInfo(const std::string& clientId);
int QZ_IsClientInfo(const std::string& clientId);

// The session whose current engine run posts notices with this key, or null.
std::shared_ptr<ClientInfo> QZ_FindClientInfoByNoticeKey(uint64_t key);

// Replaces each non-empty value in the session of this id (the path decoded first)
// and traces the session. An unknown id changes nothing.
void QZ_EditClientInfo(const std::string& clientId, const std::string& path,
    const std::string& width, const std::string& height, const std::string& osType,
    const std::string& connType);

// 1 while fewer engines run than "MaxLIveClient" allows (default 4), else 0.
int QZ_IsLiveClientRoom();

// Stops every session's engine and releases the whole list.
void QZ_FreeClientInfoList();

// The sessions in list order.
std::vector<std::shared_ptr<ClientInfo>> GetClientInfoList();

// The ENC session list: process ids of running session engines.
void AddEncSession(int pid);
// Removes the first entry equal to pid; false when there is none.
bool RemoveEncSession(int pid);
size_t CountEncSessions();
