// Spawning with a descriptor map: the child gets exactly the descriptors it is
// given, under the numbers asked for, and nothing else of ours, even while other
// threads open descriptors without close-on-exec. Children that several threads
// kill, poll and wait for at once are reaped exactly once.

#include "platform/file_io.h"
#include "platform/places.h"
#include "platform/process.h"
#include "platform/unix_socket.h"
#include "server/platform/temp_folder.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <latch>
#include <sstream>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string ReadAll(int fd)
{
    std::string text;
    char buffer[256];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(got));
    return text;
}

int ExitCodeOf(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(SpawnProcess, TheChildGetsTheMappedDescriptorsAndNoOthers)
{
    int mapped[2];
    int unmapped[2];
    ASSERT_EQ(pipe2(mapped, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(unmapped, 0), 0); // inheritable: the spawn must still close it
    UniqueFd mappedRead(mapped[0]);
    UniqueFd mappedWrite(mapped[1]);
    UniqueFd unmappedRead(unmapped[0]);
    UniqueFd unmappedWrite(unmapped[1]);

    SpawnRequest request;
    request.program = "/bin/sh";
    request.args = { "-c",
        "echo mapped >&3; if echo leaked >&" + std::to_string(unmapped[1])
            + " 2>/dev/null; then exit 3; fi; exit 0" };
    // Descriptor 3 of ours may be either pipe end; move the mapped one out of the way.
    UniqueFd source(fcntl(mappedWrite.Get(), F_DUPFD_CLOEXEC, 10));
    request.descriptors = { { source.Get(), 3 } };
    pid_t pid = SpawnProcess(request);
    ASSERT_GT(pid, 0);
    mappedWrite.Reset();
    source.Reset();
    unmappedWrite.Reset();
    EXPECT_EQ(ReadAll(mappedRead.Get()), "mapped\n");
    EXPECT_EQ(ReadAll(unmappedRead.Get()), "");
    EXPECT_EQ(ExitCodeOf(pid), 0) << "a descriptor that was not mapped reached the child";
}

TEST(SpawnProcess, MappingsThatCannotWorkAreRefused)
{
    SpawnRequest request;
    request.program = "/bin/true";
    request.descriptors = { { 1, 1 } }; // onto itself: would stay close-on-exec
    EXPECT_EQ(SpawnProcess(request), -1);
    request.descriptors = { { 5, 2 } }; // over the child's own error output
    EXPECT_EQ(SpawnProcess(request), -1);
    request.descriptors = { { 1, 4 } }; // a gap at 3 could keep one of ours
    EXPECT_EQ(SpawnProcess(request), -1);
    request.descriptors = { { 1, 3 }, { 2, 3 } };
    EXPECT_EQ(SpawnProcess(request), -1);
    request.descriptors = {};
    request.program = "/nonexistent/program";
    EXPECT_EQ(SpawnProcess(request), -1);
}

// Opens and closes descriptors of every kind the server and its libraries make,
// half of them inheritable as a careless library would leave them, until stopped.
class DescriptorChurn {
public:
    explicit DescriptorChurn(const std::string& folder, int threads)
        : m_started(threads)
    {
        for (int i = 0; i < threads; ++i)
            m_threads.emplace_back([this, folder, i] { Run(folder + "/c" + std::to_string(i)); });
        m_started.wait(); // every thread has made one round before a spawn begins
    }
    ~DescriptorChurn()
    {
        m_stop = true;
        for (std::thread& thread : m_threads)
            thread.join();
    }

private:
    void Run(const std::string& socketPath)
    {
        bool first = true;
        while (!m_stop) {
            std::vector<UniqueFd> open;
            int ends[2];
            if (pipe2(ends, 0) == 0) {
                open.emplace_back(ends[0]);
                open.emplace_back(ends[1]);
            }
            if (pipe2(ends, O_CLOEXEC) == 0) {
                open.emplace_back(ends[0]);
                open.emplace_back(ends[1]);
            }
            if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0) {
                open.emplace_back(ends[0]);
                open.emplace_back(ends[1]);
            }
            open.emplace_back(socket(AF_INET, SOCK_STREAM, 0));
            open.emplace_back(::open("/dev/null", O_RDONLY));
            open.emplace_back(eventfd(0, 0));
            // The engine channel's own primitives: a listening socket and a connection.
            unlink(socketPath.c_str());
            UniqueFd listening = ListenUnixSocket(socketPath);
            UniqueFd client = ConnectUnixSocket(socketPath);
            UniqueFd accepted = listening
                ? AcceptUnixSocket(listening.Get(), std::chrono::seconds(10), -1)
                : UniqueFd();
            EXPECT_TRUE(listening && client && accepted);
            if (first)
                m_started.count_down();
            first = false;
        }
    }

    std::latch m_started;
    std::atomic<bool> m_stop { false };
    std::vector<std::thread> m_threads;
};

// The descriptors a fd_report child reports when given the write end of a pipe as 3.
std::string SpawnAndReport(ProcessSpawner& spawner, const std::string& program)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return "pipe failed";
    UniqueFd reader(ends[0]);
    UniqueFd writer(ends[1]);
    // Descriptor 3 may be ours: the child's 3 comes from a number above it.
    UniqueFd source(fcntl(writer.Get(), F_DUPFD_CLOEXEC, 10));
    writer.Reset();
    SpawnRequest request;
    request.program = program;
    request.descriptors = { { source.Get(), 3 } };
    std::unique_ptr<ChildProcess> child = spawner.Spawn(request);
    source.Reset();
    if (!child)
        return "spawn failed";
    std::string text = ReadAll(reader.Get());
    EXPECT_TRUE(child->WaitForExit(std::chrono::minutes(2)));
    return text;
}

} // namespace

TEST(SpawnProcess, NoChildHoldsADescriptorItWasNotGivenWhileOthersOpenAndClose)
{
    const std::string program = GetProgramFolder() + "/fd_report";
    ASSERT_EQ(access(program.c_str(), X_OK), 0) << program;
    // One inheritable descriptor held all along, above the mapped ones.
    UniqueFd held(open("/dev/null", O_RDONLY));
    UniqueFd heldHigh(fcntl(held.Get(), F_DUPFD, 40));
    ASSERT_TRUE(heldHigh);
    TempFolder folder;
    std::shared_ptr<ProcessSpawner> spawner = MakePosixSpawner();
    constexpr int kSpawners = 3;
    constexpr int kSpawnsEach = 40;
    std::vector<std::vector<std::string>> reports(kSpawners);
    {
        DescriptorChurn churn(folder.path(), 3);
        std::vector<std::thread> spawners;
        for (int i = 0; i < kSpawners; ++i) {
            spawners.emplace_back([&, i] {
                for (int run = 0; run < kSpawnsEach; ++run)
                    reports[i].push_back(SpawnAndReport(*spawner, program));
            });
        }
        for (std::thread& thread : spawners)
            thread.join();
    }
    for (const auto& ofOneThread : reports) {
        ASSERT_EQ(ofOneThread.size(), size_t(kSpawnsEach));
        for (const std::string& report : ofOneThread) {
            // 0-2 are whatever the test itself was given; 3 is the only one mapped.
            std::istringstream numbers(report);
            std::vector<int> childFds;
            for (int fd; numbers >> fd;)
                childFds.push_back(fd);
            ASSERT_FALSE(childFds.empty()) << report;
            EXPECT_EQ(childFds.back(), 3) << "the child holds more than it was given: " << report;
            EXPECT_TRUE(std::is_sorted(childFds.begin(), childFds.end())) << report;
        }
    }
}

// Several threads kill, poll and wait for one child at once, in rounds where it is
// killed and rounds where it ends by itself.
TEST(PosixChild, CallersAtOnceAgreeAndTheChildIsReapedOnce)
{
    std::shared_ptr<ProcessSpawner> spawner = MakePosixSpawner();
    for (int round = 0; round < 24; ++round) {
        const bool endsAlone = round % 2 == 1;
        SpawnRequest request;
        request.program = endsAlone ? "/bin/true" : "/bin/sleep";
        if (!endsAlone)
            request.args = { "600" };
        std::unique_ptr<ChildProcess> child = spawner->Spawn(request);
        ASSERT_NE(child, nullptr);
        const pid_t pid = child->Pid();
        if (!endsAlone) {
            ASSERT_TRUE(child->IsRunning());
        }

        constexpr int kEachKind = 2;
        std::latch go(3 * kEachKind);
        std::atomic<int> killed { 0 };
        std::atomic<int> runningAgain { 0 };
        std::vector<std::thread> threads;
        for (int i = 0; i < kEachKind; ++i) {
            threads.emplace_back([&] {
                go.arrive_and_wait();
                if (child->Kill())
                    ++killed;
                EXPECT_FALSE(child->IsRunning()) << "killed means reaped";
            });
            threads.emplace_back([&] {
                go.arrive_and_wait();
                EXPECT_TRUE(child->WaitForExit(std::chrono::minutes(2)));
                EXPECT_FALSE(child->IsRunning());
            });
            threads.emplace_back([&] {
                go.arrive_and_wait();
                while (child->IsRunning()) { }
                // Once ended, never running again.
                for (int k = 0; k < 50; ++k)
                    runningAgain += child->IsRunning() ? 1 : 0;
            });
        }
        for (std::thread& thread : threads)
            thread.join();

        if (endsAlone) {
            EXPECT_LE(killed.load(), 1) << round;
        } else {
            EXPECT_EQ(killed.load(), 1) << "exactly one Kill found it running: " << round;
        }
        EXPECT_EQ(runningAgain.load(), 0);
        EXPECT_FALSE(child->Kill());
        int status = 0;
        errno = 0;
        EXPECT_EQ(waitpid(pid, &status, WNOHANG), -1) << "left unreaped: " << round;
        EXPECT_EQ(errno, ECHILD);
    }
}

TEST(CommandLineText, PlainWordsAsTheyAreAndEveryOtherQuotedAndEscaped)
{
    EXPECT_EQ(CommandLineText({}), "");
    EXPECT_EQ(CommandLineText({ "/m/clip.avi", "-fps", "23.98", "-pipename=50001" }),
        "/m/clip.avi -fps 23.98 -pipename=50001");
    EXPECT_EQ(CommandLineText({ "/m/My \"best\" film.mkv", "", "a\\b", "-o" }),
        "\"/m/My \\\"best\\\" film.mkv\" \"\" \"a\\\\b\" -o");
    // A trace line stays one line, and control bytes show as what they are.
    EXPECT_EQ(CommandLineText({ "new\nline", "tab\there", std::string("\x01\x7f", 2) }),
        "\"new\\nline\" \"tab\\there\" \"\\x01\\x7F\"");
    EXPECT_EQ(CommandLineText({ "한국어" }), "한국어");
}
