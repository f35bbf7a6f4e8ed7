#include "platform/single_copy.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

// A later copy may start while the first is between taking the lock and listening.
constexpr int kConnectAttempts = 50;
constexpr auto kConnectPause = std::chrono::milliseconds(20);
constexpr char kWakeRequest[] = "show\n";

UniqueFd LockFile(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd)
        return fd;
    while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR)
            return UniqueFd();
    }
    return fd;
}

bool AskFirstCopyToShow(const std::string& socketPath)
{
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        UniqueFd connection = ConnectUnixSocket(socketPath);
        if (connection)
            return WriteAll(connection.Get(), kWakeRequest, sizeof(kWakeRequest) - 1,
                std::chrono::milliseconds(1000));
        std::this_thread::sleep_for(kConnectPause);
    }
    return false;
}

} // namespace

bool CDataFolderLock::Acquire(const std::string& dataFolder)
{
    m_fd = LockFile(dataFolder + "/VembaCast.lock");
    return Held();
}

std::string SingleCopyName(const std::string& dataFolder)
{
    // FNV-1a: a stable short name for a path of any length.
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : dataFolder) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[40];
    std::snprintf(
        name, sizeof name, "vembacast-app-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

SingleCopyRole CSingleCopy::Claim(const std::string& runtimeFolder, const std::string& dataFolder)
{
    std::string base = runtimeFolder + "/" + SingleCopyName(dataFolder);
    m_socketPath = base + ".sock";
    m_lock = LockFile(base + ".lock");
    if (!m_lock)
        return AskFirstCopyToShow(m_socketPath) ? SingleCopyRole::Second : SingleCopyRole::Failed;
    // The lock is ours, so a socket file left by a copy that died is stale.
    m_listen = ListenUnixSocket(m_socketPath);
    if (m_listen)
        ::fcntl(m_listen.Get(), F_SETFL, ::fcntl(m_listen.Get(), F_GETFL) | O_NONBLOCK);
    return SingleCopyRole::First;
}

bool CSingleCopy::TakeWakeRequests()
{
    bool woken = false;
    while (m_listen) {
        UniqueFd connection = AcceptUnixSocket(m_listen.Get(), std::chrono::milliseconds(0), -1);
        if (!connection)
            break;
        woken = true; // any connection asks for the window; what it wrote is not needed
    }
    return woken;
}
