#pragma once

// One program per data folder.
//
// CDataFolderLock is the rule every server program keeps: an exclusive lock on
// "VembaCast.lock" in the data folder, held for the life of the process, so two
// servers never share (and overwrite) one set of settings and work folders.
//
// CSingleCopy is the desktop program's single copy: a lock file and a Unix socket in
// the runtime folder, both named after the data folder. The first copy holds the lock
// and listens; a later copy finds the lock taken, connects to the socket to ask the
// first one to show its window, and ends.

#include "platform/unix_socket.h"

#include <string>

class CDataFolderLock {
public:
    // False when another process holds the lock or the file cannot be made.
    bool Acquire(const std::string& dataFolder);
    bool Held() const { return static_cast<bool>(m_fd); }

private:
    UniqueFd m_fd;
};

enum class SingleCopyRole {
    First, // this copy runs; ListenFd() receives the wake requests
    Second, // another copy runs and was asked to show itself
    Failed, // another copy holds the lock but could not be reached
};

class CSingleCopy {
public:
    // runtimeFolder holds the lock and the socket; dataFolder names them.
    SingleCopyRole Claim(const std::string& runtimeFolder, const std::string& dataFolder);
    // The listening socket of the first copy (-1 otherwise): readable when a later copy
    // has connected.
    int ListenFd() const { return m_listen.Get(); }
    // Accepts the pending connections of later copies; true when at least one came.
    bool TakeWakeRequests();
    const std::string& SocketPath() const { return m_socketPath; }

private:
    UniqueFd m_lock;
    UniqueFd m_listen;
    std::string m_socketPath;
};

// The name both files share for a data folder: "vembacast-app-" and 16 hex digits.
std::string SingleCopyName(const std::string& dataFolder);
