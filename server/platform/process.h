#pragma once

// Child processes: the seam through which the server starts programs (the
// encoder engine). Callers hold a ProcessSpawner and get ChildProcess objects;
// tests pass their own spawner. The real one uses posix_spawn and reaps its
// children, so a process that has ended is never taken for a running one and
// its process id is never used again after the kernel may have reused it.

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// The words of a program's arguments as one line for traces: joined by blanks, and
// a word that is empty or holds a blank, a double quote, a backslash or a control
// byte shown in double quotes, with \" \\ and \n \r \t \xHH inside. For people
// to read; the arguments themselves are always passed word by word.
std::string CommandLineText(const std::vector<std::string>& words);

// One started process. Owning it means owning its end: destroying a process that
// still runs kills it and reaps it. Every operation is safe from any thread, and
// callers at once see one story: the process is reaped exactly once, only one Kill
// answers true, and once IsRunning is false it stays false.
class ChildProcess {
public:
    virtual ~ChildProcess() = default;
    virtual pid_t Pid() const = 0;
    // Reaps the process when it has ended; false from then on.
    virtual bool IsRunning() = 0;
    // True when the process has ended, at once or within timeout.
    virtual bool WaitForExit(std::chrono::milliseconds timeout) = 0;
    // SIGKILL and reap. True when the process was still running.
    virtual bool Kill() = 0;
};

// A descriptor of ours that the child gets under the number childFd.
struct DescriptorMapping {
    int parentFd = -1;
    int childFd = -1;
};

struct SpawnRequest {
    std::string program; // full path of the executable
    std::vector<std::string> args; // without the program name
    std::vector<std::pair<std::string, std::string>> environment; // set on top of ours
    // The only descriptors beyond 0-2 the child keeps. The child numbers are 3,
    // 4, ... with none left out (everything above them is closed, and a gap could
    // keep one of ours); a parentFd equal to its childFd must be moved first: it
    // would stay close-on-exec.
    std::vector<DescriptorMapping> descriptors;
    // A process group of its own, so a Ctrl-C in the terminal reaches only us.
    bool ownProcessGroup = true;
};

// Starts the request's program with default signal handling, an empty signal mask
// and no descriptors beyond 0-2 other than those the request maps. The child's
// process id, or -1 with errno set. The caller owns the child: it must reap it.
pid_t SpawnProcess(const SpawnRequest& request);

class ProcessSpawner {
public:
    virtual ~ProcessSpawner() = default;
    // Null when the program cannot be started.
    virtual std::unique_ptr<ChildProcess> Spawn(const SpawnRequest& request) = 0;
};

// posix_spawn with no inherited descriptors beyond 0-2, default signal
// handling, an empty signal mask, and a process group of its own (a Ctrl-C in the
// server's terminal reaches the server, which then stops its children itself).
std::shared_ptr<ProcessSpawner> MakePosixSpawner();
