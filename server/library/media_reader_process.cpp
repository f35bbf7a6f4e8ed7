#include "library/media_reader_process.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr char kStatusRead = 'R';
constexpr char kStatusCannotOpen = 'F';
// Values longer than this are cut: no property of interest comes close.
constexpr size_t kMaxValueBytes = 4096;
constexpr size_t kMaxValues = 64;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

void AppendValue(std::string& out, const std::string& value)
{
    uint32_t length = static_cast<uint32_t>(std::min(value.size(), kMaxValueBytes));
    out.append(reinterpret_cast<const char*>(&length), sizeof(length));
    out.append(value, 0, length);
}

bool WriteAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void CloseInheritedDescriptors(int keep)
{
    if (keep > 3)
        close_range(3, static_cast<unsigned>(keep - 1), 0);
    close_range(static_cast<unsigned>(keep + 1), UINT_MAX, 0);
}

[[noreturn]] void RunChild(const MediaReaderJob& job, int writeFd)
{
    CloseInheritedDescriptors(writeFd);
    // Libraries turn wide file names into bytes by the C library's locale.
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        setlocale(LC_CTYPE, "C.UTF-8");
    std::vector<std::string> values;
    std::string out;
    if (job(values)) {
        out += kStatusRead;
        uint32_t count = static_cast<uint32_t>(std::min(values.size(), kMaxValues));
        out.append(reinterpret_cast<const char*>(&count), sizeof(count));
        for (uint32_t i = 0; i < count; ++i)
            AppendValue(out, values[i]);
    } else {
        out += kStatusCannotOpen;
    }
    _exit(WriteAll(writeFd, out) ? 0 : 1);
}

// Reads until end of file or the deadline; false when time ran out.
bool ReadUntilClosed(int fd, std::chrono::steady_clock::time_point deadline, std::string& data)
{
    char buffer[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd poller { fd, POLLIN, 0 };
        int ready = ::poll(&poller, 1, static_cast<int>(std::min<int64_t>(left.count(), INT_MAX)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
        if (data.size() < (kMaxValues + 1) * (kMaxValueBytes + 4))
            data.append(buffer, static_cast<size_t>(n));
    }
}

bool ParseValues(const std::string& data, std::vector<std::string>& values)
{
    size_t pos = 1;
    auto readWord = [&](uint32_t& word) {
        if (data.size() - pos < sizeof(word))
            return false;
        std::memcpy(&word, data.data() + pos, sizeof(word));
        pos += sizeof(word);
        return true;
    };
    uint32_t count;
    if (!readWord(count) || count > kMaxValues)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length;
        if (!readWord(length) || length > kMaxValueBytes || data.size() - pos < length)
            return false;
        values.emplace_back(data, pos, length);
        pos += length;
    }
    return pos == data.size();
}

void Reap(pid_t pid)
{
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
}

// A child that closed its pipe normally exits at once; one that lingers past the
// deadline is killed, so the caller never waits for ever.
void ReapBefore(pid_t pid, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        pid_t done = ::waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            Reap(pid);
            return;
        }
        ::usleep(1000);
    }
}

} // namespace

MediaReaderOutcome RunMediaReader(
    const MediaReaderJob& job, std::chrono::milliseconds timeout, std::vector<std::string>& values)
{
    values.clear();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return MediaReaderOutcome::NoProcess;
    FileDescriptor readEnd(fds[0]);
    FileDescriptor writeEnd(fds[1]);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    pid_t pid = ::fork();
    if (pid < 0)
        return MediaReaderOutcome::NoProcess;
    if (pid == 0)
        RunChild(job, writeEnd.Get());
    writeEnd.Close();
    std::string data;
    if (!ReadUntilClosed(readEnd.Get(), deadline, data)) {
        ::kill(pid, SIGKILL);
        Reap(pid);
        return MediaReaderOutcome::TimedOut;
    }
    ReapBefore(pid, deadline);
    if (data.empty())
        return MediaReaderOutcome::Crashed;
    if (data[0] == kStatusCannotOpen && data.size() == 1)
        return MediaReaderOutcome::CannotOpen;
    if (data[0] != kStatusRead || !ParseValues(data, values)) {
        values.clear();
        return MediaReaderOutcome::Crashed;
    }
    return MediaReaderOutcome::Read;
}
