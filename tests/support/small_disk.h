#pragma once

// A small disk the test can fill: a tmpfs mounted in a mount namespace of the test
// process's own, so it vanishes with the process and nothing outside sees it. Root
// mounts it directly; anybody else first enters a user namespace in which the test is
// root. The programs the test starts afterwards (the daemon, ffmpeg) inherit the
// namespaces and see the same disk.

#include "support/test_support.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace vembatest {

class SmallDisk {
public:
    // Mounts a tmpfs of bytes at folder (made if missing); false with why when
    // neither way is permitted here.
    bool Mount(const std::string& folder, size_t bytes, std::string& why)
    {
        if (!EnterMountNamespace(why))
            return false;
        std::filesystem::create_directories(folder);
        const std::string options = "size=" + std::to_string(bytes);
        if (::mount("vembatest", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            why = std::string("mounting a tmpfs failed: ") + std::strerror(errno);
            return false;
        }
        m_folder = folder;
        return true;
    }

    // Writes a file into the disk until it is full.
    bool Fill(const std::string& name)
    {
        m_filler = m_folder + "/" + name;
        int fd = ::open(m_filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        std::vector<char> block(64 * 1024, 'f');
        bool full = false;
        for (;;) {
            ssize_t wrote = ::write(fd, block.data(), block.size());
            if (wrote > 0)
                continue;
            full = wrote < 0 && errno == ENOSPC;
            break;
        }
        ::close(fd);
        return full;
    }

    // Gives back bytes of what Fill took, so that much more fits.
    bool Free(size_t bytes)
    {
        std::error_code error;
        const auto size = std::filesystem::file_size(m_filler, error);
        return !error && size >= bytes
            && ::truncate(m_filler.c_str(), static_cast<off_t>(size - bytes)) == 0;
    }

    // Frees what Fill took.
    bool Empty() { return !m_filler.empty() && ::unlink(m_filler.c_str()) == 0; }

private:
    static bool EnterMountNamespace(std::string& why)
    {
        if (::geteuid() != 0) {
            const std::string uid = std::to_string(::geteuid());
            const std::string gid = std::to_string(::getegid());
            if (::unshare(CLONE_NEWUSER) != 0) {
                why = std::string("no user namespace: ") + std::strerror(errno);
                return false;
            }
            std::ofstream("/proc/self/setgroups") << "deny";
            std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
            std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
        }
        if (::unshare(CLONE_NEWNS) != 0) {
            why = std::string("no mount namespace: ") + std::strerror(errno);
            return false;
        }
        // Nothing mounted here reaches the namespace it came from.
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            why = std::string("cannot make the mounts private: ") + std::strerror(errno);
            return false;
        }
        return true;
    }

    std::string m_folder;
    std::string m_filler;
};

} // namespace vembatest
