// Spawning with a descriptor map: the child gets exactly the descriptors it is
// given, under the numbers asked for, and nothing else of ours.

#include "platform/file_io.h"
#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
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

} // namespace
