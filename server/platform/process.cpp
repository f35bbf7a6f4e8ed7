#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

bool NeedsQuotes(const std::string& word)
{
    if (word.empty())
        return true;
    for (unsigned char c : word) {
        if (c <= ' ' || c == '"' || c == '\\' || c == 0x7F)
            return true;
    }
    return false;
}

std::string Quoted(const std::string& word)
{
    std::string text = "\"";
    for (unsigned char c : word) {
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\t') {
            text += "\\t";
        } else if (c < ' ' || c == 0x7F) {
            static const char kHex[] = "0123456789ABCDEF";
            text += "\\x";
            text += kHex[c >> 4];
            text += kHex[c & 15];
        } else {
            text += static_cast<char>(c);
        }
    }
    return text + '"';
}

} // namespace

std::string CommandLineText(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& word : words) {
        if (!text.empty())
            text += ' ';
        text += NeedsQuotes(word) ? Quoted(word) : word;
    }
    return text;
}

namespace {

constexpr auto kPollPause = std::chrono::milliseconds(5);

// Only one caller at a time may wait for the child: a second waitpid after the
// first has reaped it could reap another child that got the same process id. So a
// caller claims the right to wait under the lock, calls waitpid and kill with no
// lock held, and hands the right back; whoever finds it taken waits for its return.
class PosixChild final : public ChildProcess {
public:
    explicit PosixChild(pid_t pid)
        : m_pid(pid)
    {
    }
    ~PosixChild() override { Kill(); }

    pid_t Pid() const override { return m_pid; }

    bool IsRunning() override
    {
        if (!ClaimWait())
            return false;
        bool ended = Reap(WNOHANG);
        ReturnWait(ended);
        return !ended;
    }

    bool WaitForExit(std::chrono::milliseconds timeout) override
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (IsRunning()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(kPollPause);
        }
        return true;
    }

    bool Kill() override
    {
        if (!ClaimWait())
            return false;
        // Unreaped and claimed, the process id is still this child's alone.
        bool running = !Reap(WNOHANG);
        if (running) {
            kill(m_pid, SIGKILL);
            Reap(0);
        }
        ReturnWait(true);
        return running;
    }

private:
    // False when the child has been reaped already; else the caller holds the
    // right to wait until ReturnWait.
    bool ClaimWait()
    {
        std::unique_lock lock(m_lock);
        m_waitReturned.wait(lock, [this] { return !m_waitClaimed; });
        if (m_reaped)
            return false;
        m_waitClaimed = true;
        return true;
    }

    void ReturnWait(bool reaped)
    {
        {
            std::lock_guard lock(m_lock);
            m_waitClaimed = false;
            m_reaped = reaped;
        }
        m_waitReturned.notify_all();
    }

    // True when the child has ended and is reaped now, or was reaped by someone
    // outside this object (ECHILD); false while it runs (WNOHANG).
    bool Reap(int options)
    {
        int status = 0;
        pid_t result;
        do
            result = waitpid(m_pid, &status, options);
        while (result < 0 && errno == EINTR);
        return result != 0;
    }

    const pid_t m_pid;
    std::mutex m_lock;
    std::condition_variable m_waitReturned;
    bool m_waitClaimed = false; // guarded by m_lock: a caller is in waitpid or kill
    bool m_reaped = false; // guarded by m_lock
};

std::vector<std::string> MergedEnvironment(
    const std::vector<std::pair<std::string, std::string>>& extra)
{
    std::vector<std::string> merged;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string text = *entry;
        bool replaced = false;
        for (const auto& [name, value] : extra)
            replaced = replaced || text.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            merged.push_back(std::move(text));
    }
    for (const auto& [name, value] : extra)
        merged.push_back(name + "=" + value);
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

class PosixSpawner final : public ProcessSpawner {
public:
    std::unique_ptr<ChildProcess> Spawn(const SpawnRequest& request) override
    {
        pid_t pid = SpawnProcess(request);
        if (pid < 0)
            return nullptr;
        return std::make_unique<PosixChild>(pid);
    }
};

} // namespace

pid_t SpawnProcess(const SpawnRequest& request)
{
    // The child numbers must fill 3 .. 2 + n: closing from the one above then
    // leaves the child nothing of ours it was not given.
    std::vector<bool> taken(request.descriptors.size(), false);
    for (const DescriptorMapping& mapping : request.descriptors) {
        size_t slot = static_cast<size_t>(mapping.childFd - 3);
        if (mapping.childFd < 3 || slot >= taken.size() || taken[slot] || mapping.parentFd < 0
            || mapping.parentFd == mapping.childFd) {
            errno = EINVAL;
            return -1;
        }
        taken[slot] = true;
    }
    int highest = 2 + static_cast<int>(request.descriptors.size());
    std::vector<std::string> argvText { request.program };
    argvText.insert(argvText.end(), request.args.begin(), request.args.end());
    std::vector<std::string> envText = MergedEnvironment(request.environment);
    std::vector<char*> argv = Pointers(argvText);
    std::vector<char*> envp = Pointers(envText);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (const DescriptorMapping& mapping : request.descriptors)
        posix_spawn_file_actions_adddup2(&actions, mapping.parentFd, mapping.childFd);
    posix_spawn_file_actions_addclosefrom_np(&actions, highest + 1);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (request.ownProcessGroup) {
        posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attributes, flags);
    pid_t pid = 0;
    int result = posix_spawn(
        &pid, request.program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        errno = result;
        return -1;
    }
    return pid;
}

std::shared_ptr<ProcessSpawner> MakePosixSpawner()
{
    return std::make_shared<PosixSpawner>();
}
