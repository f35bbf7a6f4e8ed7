// The conversion jobs and queue of one server's conversion layer, without an engine:
// options, names, states, the queue's methods and observer, engine notices handled on
// the server's notice queue, the job list document, and a job whose engine cannot start.

#include "config/texts.h"
#include "conversion/conversion_context.h"
#include "conversion/convert_list.h"
#include "server/platform/temp_folder.h"
#include "support/step_log.h"
#include "support/test_server.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// A conversion layer whose queue runs no worker until a test starts it.
class ConvertQueueTest : public ::testing::Test {
protected:
    explicit ConvertQueueTest(ConvertQueueTiming timing = {})
        : m_server(m_data.Parts(), timing)
    {
        Queue().SetObserver([this](ConversionChange change, const ConvertInfo_t& job) {
            static const char* const names[] = { "added", "progress", "state", "deleted" };
            m_log.Add(std::string(names[static_cast<int>(change)]) + " " + job.strConvertID);
        });
    }
    CConvertQueue& Queue() { return m_server.ConvertQueue(); }

    ConvertJobPtr MakeJob(
        const std::string& id, const std::string& source, int state = kConvertWaiting)
    {
        auto job = std::make_shared<ConvertInfo_t>(m_server);
        job->strConvertID = id;
        job->strSourcePath = source;
        job->strOutputPath = MakeConvertTempPath(m_data.Root() + source);
        job->nState = state;
        return job;
    }
    // A job that has written part of its output, as a running engine would.
    ConvertJobPtr RunningJob(const std::string& id, const std::string& name)
    {
        ConvertJobPtr job = MakeJob(id, "/" + name, kConvertConverting);
        std::ofstream(job->strOutputPath) << "partial";
        job->bOwnsTemp = true;
        return job;
    }

    vembatest::TestDataFolder m_data { "vembaconvert" };
    vembatest::StepLog<std::string> m_log; // what the observer heard, in order
    ConversionContext m_server;
};

// The same with the worker running and looking every millisecond.
class RunningQueue : public ConvertQueueTest {
protected:
    RunningQueue()
        : ConvertQueueTest(ConvertQueueTiming { 1ms, 50ms, 3 })
    {
        Queue().Start();
    }
};

} // namespace

TEST_F(ConvertQueueTest, DeviceAndOptionGiveResolutionAndTruncatedBitrate)
{
    struct Row {
        int device, option, width, height, bitrate;
    };
    const Row rows[]
        = { { 1, 0, 960, 480, 750 }, { 1, 2, 960, 480, 1500 }, { 1, 1, 960, 480, 1049 },
              { 2, 0, 1024, 768, 1000 }, { 2, 2, 1024, 768, 2000 }, { 2, 1, 1024, 768, 1399 },
              { 0, 0, 480, 320, 600 }, { 7, 2, 480, 320, 1200 }, { -3, 9, 480, 320, 839 } };
    for (const Row& row : rows) {
        ConvertInfo_t job(m_server);
        job.setConvertOptions(row.device, row.option);
        EXPECT_EQ(job.nWidth, row.width) << row.device << "/" << row.option;
        EXPECT_EQ(job.nHeight, row.height) << row.device << "/" << row.option;
        EXPECT_EQ(job.nBitrate, row.bitrate) << row.device << "/" << row.option;
    }
}

TEST(ConvertNames, TemporaryAndFinalOutputLieBesideTheSource)
{
    EXPECT_EQ(MakeConvertTempPath("/d/v/clip.avi"), "/d/v/clip-vembacast.m4vtmp");
    EXPECT_EQ(MakeConvertTempPath("/d/v.x/noext"), "/d/v.x/noext-vembacast.m4vtmp");
    EXPECT_EQ(MakeConvertTempPath("/d/a.b.mkv"), "/d/a.b-vembacast.m4vtmp");
    EXPECT_EQ(ConvertFileName("/Movies\\Kids/a.avi"), "a.avi");
    EXPECT_EQ(ConvertFileName("Kids\\b.avi"), "b.avi");
}

TEST_F(ConvertQueueTest, AFinalNameIsTheTemporaryOnesWithoutItsEnding)
{
    ConvertInfo_t job(m_server);
    job.strOutputPath = MakeConvertTempPath("/d/v/clip.avi");
    EXPECT_EQ(job.FinalOutputPath(), "/d/v/clip-vembacast.m4v");
}

TEST_F(ConvertQueueTest, ACancelIsNeverUndoneByALateNoticeAndProgressOnlyRises)
{
    ConvertInfo_t job(m_server);
    job.MarkRemoved();
    EXPECT_FALSE(job.MarkComplete());
    EXPECT_FALSE(job.MarkFailed());
    EXPECT_FALSE(job.MarkConverting());
    EXPECT_EQ(job.nState, kConvertRemoved);

    ConvertInfo_t done(m_server);
    EXPECT_TRUE(done.MarkConverting());
    EXPECT_TRUE(done.MarkComplete());
    EXPECT_FALSE(done.MarkFailed()) << "a finished file is not reported failed afterwards";
    done.RaiseProgress(100);
    done.RaiseProgress(95);
    EXPECT_EQ(done.nProgress, 100);
}

TEST_F(ConvertQueueTest, EngineNoticesOnTheNoticeQueueRenameDeleteOrLeaveCancelledJobs)
{
    ConvertJobPtr done = RunningJob("A", "a.avi");
    ConvertJobPtr broken = RunningJob("B", "b.avi");
    ConvertJobPtr cancelled = RunningJob("C", "c.avi");
    for (const ConvertJobPtr& job : { done, broken, cancelled })
        ASSERT_TRUE(Queue().AddJob(job));
    cancelled->MarkRemoved();
    // As the engines' readers hand them over: in order, on the notice thread.
    m_server.Notices().Post([&] { Queue().OnConversionCompleted(done); });
    m_server.Notices().Post([&] { Queue().OnConversionError(broken); });
    m_server.Notices().Post([&] { Queue().OnConversionCompleted(cancelled); });
    m_server.Notices().Post([&] { Queue().OnConversionError(done); }); // too late
    ASSERT_TRUE(m_server.Notices().Drain());

    EXPECT_EQ(done->nState, kConvertComplete);
    EXPECT_EQ(done->nProgress, 100);
    EXPECT_TRUE(std::filesystem::exists(done->FinalOutputPath()));
    EXPECT_FALSE(std::filesystem::exists(done->strOutputPath));
    EXPECT_EQ(broken->nState, kConvertFailed);
    EXPECT_FALSE(std::filesystem::exists(broken->strOutputPath));
    EXPECT_FALSE(std::filesystem::exists(broken->FinalOutputPath()));
    EXPECT_EQ(cancelled->nState, kConvertRemoved);
    EXPECT_FALSE(std::filesystem::exists(cancelled->FinalOutputPath()))
        << "a cancelled job's file is the worker's to delete, never renamed";
    EXPECT_EQ(m_log.Events(),
        (std::vector<std::string> { "added A", "added B", "added C", "state A", "state B" }));
}

TEST_F(ConvertQueueTest, ClearMarksFinishedJobsOrAll)
{
    ConvertJobPtr done = MakeJob("D", "/M/d.avi", kConvertComplete);
    ConvertJobPtr failed = MakeJob("F", "/M/f.avi", kConvertFailed);
    ConvertJobPtr waiting = MakeJob("W", "/M/w.avi");
    for (const ConvertJobPtr& job : { done, failed, waiting })
        Queue().AddJob(job);
    Queue().MarkJobs(false);
    EXPECT_EQ(done->nState, kConvertRemoved);
    EXPECT_EQ(failed->nState, kConvertRemoved);
    EXPECT_EQ(waiting->nState, kConvertWaiting);
    Queue().MarkJobs(true);
    EXPECT_EQ(waiting->nState, kConvertRemoved);
}

TEST_F(ConvertQueueTest, ASameNamedRequestReplacesAWaitingJobCancelsARunningOneAndADropKeepsBoth)
{
    ConvertJobPtr waiting = MakeJob("W", "/Movies/clip.avi");
    ConvertJobPtr running = MakeJob("R", "/Movies/run.avi", kConvertConverting);
    running->bOwnsTemp = true;
    Queue().AddJob(waiting);
    Queue().AddJob(running);
    ConvertJobPtr replacement = MakeJob("N", "/Kids/clip.avi"); // same name, other folder
    ConvertJobPtr second = MakeJob("S", "/Kids/run.avi");
    Queue().AddJob(replacement);
    Queue().AddJob(second);
    std::vector<ConvertJobPtr> jobs = Queue().Jobs();
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0], running) << "the running job stays until its engine and file are gone";
    EXPECT_EQ(running->nState, kConvertRemoved);
    EXPECT_EQ(jobs[1], replacement);
    EXPECT_EQ(jobs[2], second);

    // A file dropped at this computer twice is two jobs.
    ConvertJobPtr dropped = MakeJob("K", "/Kids/clip.avi");
    ASSERT_TRUE(Queue().AddJob(dropped, SameNameJobs::Keep));
    EXPECT_EQ(Queue().Jobs().size(), 4u);
    EXPECT_EQ(replacement->nState, kConvertWaiting);
}

TEST_F(ConvertQueueTest, TheListDocumentListsFinishedAndOpenJobsInQueueOrder)
{
    ConvertJobPtr converting = MakeJob("C1", "/M/run <1>.avi", kConvertConverting);
    converting->nProgress = 37;
    ConvertJobPtr waiting = MakeJob("W1", "/M/Kids/wait.avi");
    ConvertJobPtr failed = MakeJob("F1", "/M/bad.avi", kConvertFailed);
    ConvertJobPtr done = MakeJob("D1", "/M/done.avi", kConvertComplete);
    ConvertJobPtr removed = MakeJob("X1", "/M/gone.avi", kConvertRemoved);
    const std::string document
        = MakeConvertListDocument(m_server.Texts(), { converting, waiting, failed, done, removed });
    const std::string expected = "<key>convertComplete</key><array>"
                                 "<dict><key>convertid</key><string>F1</string><key>filename</key>"
                                 "<string>bad.avi,"
        + m_server.Texts().Lookup("IDS_WORD_CONV_FAILED")
        + "</string><key>status</key><string>-1</string></dict>"
          "<dict><key>convertid</key><string>D1</string><key>filename</key><string>done.avi</"
          "string>"
          "<key>status</key><string>0</string></dict></array>"
          "<key>convertWait</key><array>"
          "<dict><key>convertid</key><string>C1</string><key>filename</key>"
          "<string>run &lt;1&gt;.avi</string><key>progress</key><string>37</string></dict>"
          "<dict><key>convertid</key><string>W1</string><key>filename</key><string>wait.avi</"
          "string>"
          "<key>progress</key><string>-1</string></dict></array></dict></plist>";
    EXPECT_NE(document.find(expected), std::string::npos) << document;
    EXPECT_EQ(document.find("gone.avi"), std::string::npos);
    EXPECT_EQ(document.rfind("<?xml", 0), 0u);
}

TEST_F(RunningQueue, AJobWhoseEngineCannotStartFailsAfterThreeStartsAndTheNextIsTried)
{
    // No share is known, so no command line can be made for either job.
    ConvertJobPtr first = MakeJob("A", "/Nowhere/a.avi");
    ConvertJobPtr second = MakeJob("B", "/Nowhere/b.avi");
    ASSERT_TRUE(Queue().AddJob(first));
    ASSERT_TRUE(Queue().AddJob(second));
    ASSERT_TRUE(m_log.WaitFor("state B"));
    EXPECT_EQ(first->nState, kConvertFailed);
    EXPECT_EQ(first->nStartFailures, 3);
    EXPECT_EQ(second->nState, kConvertFailed);
    EXPECT_FALSE(first->bOwnsTemp);
    std::vector<std::string> lines = m_log.Events();
    EXPECT_LT(std::find(lines.begin(), lines.end(), "state A"),
        std::find(lines.begin(), lines.end(), "state B"));
}

TEST_F(RunningQueue, ACancelledJobIsTakenOutByTheWorkerAndTheObserverHearsIt)
{
    ConvertJobPtr done = MakeJob("D", "/Nowhere/d.avi", kConvertComplete);
    ASSERT_TRUE(Queue().AddJob(done));
    Queue().MarkJobs(false);
    ASSERT_TRUE(m_log.WaitFor("deleted D"));
    EXPECT_TRUE(Queue().Jobs().empty());
}

TEST_F(RunningQueue, AStoppedQueueTakesNoJobAndDropsWaitingOnes)
{
    ConvertJobPtr job = MakeJob("A", "/Nowhere/a.avi");
    ConvertJobPtr late = MakeJob("L", "/Nowhere/l.avi");
    Queue().AddJob(job);
    Queue().Stop();
    EXPECT_TRUE(Queue().Jobs().empty());
    EXPECT_EQ(job->nState, kConvertRemoved);
    EXPECT_FALSE(Queue().AddJob(late));
}

// A crash (nothing of the queue is stopped) and a new server over the same data
// folder: the jobs come back in order with their ids, the one that was converting
// waits to start over, and its partial output is gone.
TEST_F(ConvertQueueTest, AfterACrashTheJobsComeBackAndTheirPartialOutputIsRemoved)
{
    ConvertJobPtr waiting = MakeJob("W", "/w.avi");
    ConvertJobPtr running = RunningJob("R", "r.avi");
    ConvertJobPtr done = MakeJob("D", "/d.avi", kConvertComplete);
    done->nProgress = 100;
    for (const ConvertJobPtr& job : { waiting, running, done })
        ASSERT_TRUE(Queue().AddJob(job));
    running->RaiseProgress(40);
    ASSERT_TRUE(std::filesystem::exists(running->strOutputPath));

    ConversionContext after(m_data.Parts());
    std::vector<ConvertJobPtr> jobs = after.ConvertQueue().Jobs();
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0]->strConvertID, "W");
    EXPECT_EQ(jobs[0]->nState, kConvertWaiting);
    EXPECT_EQ(jobs[1]->strConvertID, "R");
    EXPECT_EQ(jobs[1]->nState, kConvertWaiting) << "starts again from the beginning";
    EXPECT_EQ(jobs[1]->nProgress, 0);
    EXPECT_EQ(jobs[1]->strOutputPath, running->strOutputPath);
    EXPECT_FALSE(std::filesystem::exists(running->strOutputPath));
    EXPECT_EQ(jobs[2]->strConvertID, "D");
    EXPECT_EQ(jobs[2]->nState, kConvertComplete);
    EXPECT_EQ(jobs[2]->nProgress, 100);
}

TEST_F(RunningQueue, JobsTakenOutAreForgottenAndAStoppedServerKeepsTheRest)
{
    ConvertJobPtr done = MakeJob("D", "/Nowhere/d.avi", kConvertComplete);
    ConvertJobPtr kept = MakeJob("K", "/Nowhere/k.avi", kConvertComplete);
    ASSERT_TRUE(Queue().AddJob(done));
    done->MarkRemoved();
    ASSERT_TRUE(m_log.WaitFor("deleted D"));
    ASSERT_TRUE(Queue().AddJob(kept));
    Queue().Stop();

    ConversionContext after(m_data.Parts());
    std::vector<ConvertJobPtr> jobs = after.ConvertQueue().Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0]->strConvertID, "K");
}

TEST_F(ConvertQueueTest, ADamagedJobStoreIsReplacedAndNeverStopsTheServer)
{
    {
        std::ofstream(m_data.DataFolder() + "/" + kConvertJobsDatabaseName)
            << std::string(4096, '\x5a');
    }
    ConversionContext damaged(m_data.Parts());
    EXPECT_TRUE(damaged.ConvertQueue().Jobs().empty());
    ASSERT_TRUE(damaged.ConvertQueue().AddJob(MakeJob("N", "/n.avi")));
    ConversionContext after(m_data.Parts());
    ASSERT_EQ(after.ConvertQueue().Jobs().size(), 1u);
    EXPECT_EQ(after.ConvertQueue().Jobs()[0]->strConvertID, "N");
}

// clip.avi and clip.mkv of one folder both aim at clip-vembacast.m4v: the second
// finished file takes the next numbered name, and the first one stays as it was.
TEST_F(ConvertQueueTest, AFinishedFileNeverReplacesAnotherOneButTakesTheNextNumberedName)
{
    ConvertJobPtr avi = RunningJob("A", "clip.avi");
    ASSERT_TRUE(Queue().AddJob(avi));
    m_server.Notices().Post([&] { Queue().OnConversionCompleted(avi); });
    ASSERT_TRUE(m_server.Notices().Drain());
    const std::string first = m_data.Root() + "/clip-vembacast.m4v";
    ASSERT_EQ(avi->FinalOutputPath(), first);

    ConvertJobPtr mkv = RunningJob("M", "clip.mkv");
    std::ofstream(mkv->strOutputPath) << "the mkv";
    ASSERT_TRUE(Queue().AddJob(mkv));
    m_server.Notices().Post([&] { Queue().OnConversionCompleted(mkv); });
    ASSERT_TRUE(m_server.Notices().Drain());
    EXPECT_EQ(mkv->nState, kConvertComplete);
    EXPECT_EQ(mkv->FinalOutputPath(), m_data.Root() + "/clip-vembacast (2).m4v");
    EXPECT_EQ(ReadFileText(first), "partial") << "the first file is untouched";
    EXPECT_EQ(ReadFileText(mkv->FinalOutputPath()), "the mkv");

    // A name that carries a number already gets the next free one in the same form.
    const std::string temp = m_data.Root() + "/x-vembacast (2).m4vtmp";
    std::ofstream(temp) << "x";
    for (const char* taken : { "x-vembacast (2).m4v", "x-vembacast (3).m4v" })
        std::ofstream(m_data.Root() + "/" + taken) << "taken";
    EXPECT_EQ(MoveConvertOutputIntoPlace(temp, m_data.Root() + "/x-vembacast (2).m4v"),
        m_data.Root() + "/x-vembacast (4).m4v");
    EXPECT_EQ(ReadFileText(m_data.Root() + "/x-vembacast (2).m4v"), "taken");
}
