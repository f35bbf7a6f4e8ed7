// The count of running engines, and its way into a new engine's environment.

#include "enginectl/encoder.h"
#include "enginectl/engine_census.h"
#include "platform/process.h"

#include <gtest/gtest.h>
#include <mutex>

namespace {

// A process that runs until it is killed: a stand-in engine.
std::shared_ptr<ChildProcess> StartIdleProcess()
{
    SpawnRequest request;
    request.program = "/bin/sleep";
    request.args = { "600" };
    return MakePosixSpawner()->Spawn(request);
}

TEST(EngineCensus, CountsOnlyEnginesWhoseProcessRuns)
{
    EngineCensus census;
    EXPECT_EQ(census.Running(), 0);
    EXPECT_EQ(census.CountForNewEngine(), "1");

    std::shared_ptr<ChildProcess> first = StartIdleProcess();
    std::shared_ptr<ChildProcess> second = StartIdleProcess();
    ASSERT_TRUE(first && second);
    census.Note(first);
    census.Note(second);
    census.Note(nullptr);
    EXPECT_EQ(census.Running(), 2);
    EXPECT_EQ(census.CountForNewEngine(), "3");

    // Kill reaps: the ended engine no longer counts.
    first->Kill();
    EXPECT_EQ(census.Running(), 1);
    // An owner that let go of its engine takes it out of the count too.
    second->Kill();
    second.reset();
    EXPECT_EQ(census.Running(), 0);
}

// Spawns /bin/true in the engine's place and keeps what it was asked for.
class RecordingSpawner : public ProcessSpawner {
public:
    std::unique_ptr<ChildProcess> Spawn(const SpawnRequest& request) override
    {
        {
            std::lock_guard guard(m_lock);
            m_requests.push_back(request);
        }
        SpawnRequest standIn;
        standIn.program = "/bin/true";
        return MakePosixSpawner()->Spawn(standIn);
    }
    std::string Variable(const std::string& name)
    {
        std::lock_guard guard(m_lock);
        for (const auto& [key, value] : m_requests.back().environment)
            if (key == name)
                return value;
        return "(missing)";
    }

private:
    std::mutex m_lock;
    std::vector<SpawnRequest> m_requests; // guarded by m_lock
};

TEST(EngineCensus, ANewEngineLearnsHowManyRunWithIt)
{
    std::shared_ptr<ChildProcess> running = StartIdleProcess();
    ASSERT_TRUE(running);
    const int before = ServerEngineCensus().Running();
    ServerEngineCensus().Note(running);

    auto spawner = std::make_shared<RecordingSpawner>();
    CEncoder encoder(spawner);
    ASSERT_GE(encoder.CreateEnginePipe(), 0);
    // The stand-in exits at once, so the start fails; the request is what counts.
    EXPECT_EQ(encoder.RunQZThumbEngine({ "-pipename=1" }), 0);
    EXPECT_EQ(spawner->Variable(kEngineCountVariable), std::to_string(before + 2));
    running->Kill();
}

} // namespace
