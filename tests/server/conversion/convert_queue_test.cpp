// The conversion jobs and queue without an engine: options, names, states, the
// queue messages, the job list document, and a job whose engine cannot start.

#include "config/app_messages.h"
#include "config/texts.h"
#include "conversion/convert_list.h"
#include "conversion/convert_queue.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

ConvertJobPtr MakeJob(const std::string& id, const std::string& source, int state = kConvertWaiting)
{
    auto job = std::make_shared<ConvertInfo_t>();
    job->strConvertID = id;
    job->strSourcePath = source;
    job->strOutputPath = MakeConvertTempPath("/srv" + source);
    job->nState = state;
    return job;
}

veneta::LResult Add(CConvertQueue& queue, ConvertJobPtr job)
{
    return queue.OnMessage(WM_APP_QUEUE_ADD, 0, reinterpret_cast<veneta::LParam>(&job));
}

void Progress(CConvertQueue& queue, int percent, const std::string& id)
{
    queue.OnMessage(WM_APP_QUEUE_PROGRESS,
        static_cast<veneta::WParam>(static_cast<intptr_t>(percent)),
        reinterpret_cast<veneta::LParam>(&id));
}

// A queue registered at its index with a worker that looks every millisecond.
class RunningQueue : public ::testing::Test {
protected:
    RunningQueue() { m_queue.Start(); }
    ~RunningQueue() override { m_queue.Stop(); }
    CConvertQueue m_queue { ConvertQueueTiming {
        std::chrono::milliseconds(1), std::chrono::milliseconds(50), 3 } };
};

} // namespace

TEST(ConvertOptions, DeviceAndOptionGiveResolutionAndTruncatedBitrate)
{
    struct Row {
        int device, option, width, height, bitrate;
    };
    const Row rows[]
        = { { 1, 0, 960, 480, 750 }, { 1, 2, 960, 480, 1500 }, { 1, 1, 960, 480, 1049 },
              { 2, 0, 1024, 768, 1000 }, { 2, 2, 1024, 768, 2000 }, { 2, 1, 1024, 768, 1399 },
              { 0, 0, 480, 320, 600 }, { 7, 2, 480, 320, 1200 }, { -3, 9, 480, 320, 839 } };
    for (const Row& row : rows) {
        ConvertInfo_t job;
        job.setConvertOptions(row.device, row.option);
        EXPECT_EQ(job.nWidth, row.width) << row.device << "/" << row.option;
        EXPECT_EQ(job.nHeight, row.height) << row.device << "/" << row.option;
        EXPECT_EQ(job.nBitrate, row.bitrate) << row.device << "/" << row.option;
    }
}

TEST(ConvertNames, TemporaryAndFinalOutputLieBesideTheSource)
{
    ConvertInfo_t job;
    job.strOutputPath = MakeConvertTempPath("/d/v/clip.avi");
    EXPECT_EQ(job.strOutputPath, "/d/v/clip-vembacast.m4vtmp");
    EXPECT_EQ(job.FinalOutputPath(), "/d/v/clip-vembacast.m4v");
    EXPECT_EQ(MakeConvertTempPath("/d/v.x/noext"), "/d/v.x/noext-vembacast.m4vtmp");
    EXPECT_EQ(MakeConvertTempPath("/d/a.b.mkv"), "/d/a.b-vembacast.m4vtmp");
    EXPECT_EQ(ConvertFileName("/Movies\\Kids/a.avi"), "a.avi");
    EXPECT_EQ(ConvertFileName("Kids\\b.avi"), "b.avi");
}

TEST(ConvertStates, ACancelIsNeverUndoneByALateNoticeAndProgressOnlyRises)
{
    ConvertInfo_t job;
    job.MarkRemoved();
    EXPECT_FALSE(job.MarkComplete());
    EXPECT_FALSE(job.MarkFailed());
    EXPECT_FALSE(job.MarkConverting());
    EXPECT_EQ(job.nState, kConvertRemoved);

    ConvertInfo_t done;
    EXPECT_TRUE(done.MarkConverting());
    EXPECT_TRUE(done.MarkComplete());
    EXPECT_FALSE(done.MarkFailed()) << "a finished file is not reported failed afterwards";
    done.RaiseProgress(100);
    done.RaiseProgress(95);
    EXPECT_EQ(done.nProgress, 100);
}

TEST(ConvertQueueMessages, ProgressReportsFollowTheirCodes)
{
    CConvertQueue queue;
    ConvertJobPtr a = MakeJob("A", "/M/a.avi", kConvertConverting);
    ConvertJobPtr b = MakeJob("B", "/M/b.avi", kConvertConverting);
    ConvertJobPtr c = MakeJob("C", "/M/c.avi", kConvertConverting);
    Add(queue, a);
    Add(queue, b);
    Add(queue, c);
    Progress(queue, 37, "A");
    Progress(queue, 20, "A");
    EXPECT_EQ(a->nProgress, 37);
    EXPECT_EQ(a->nState, kConvertConverting);
    Progress(queue, 100, "A");
    Progress(queue, 95, "A");
    EXPECT_EQ(a->nState, kConvertComplete);
    EXPECT_EQ(a->nProgress, 100);
    Progress(queue, -255, "B");
    EXPECT_EQ(b->nState, kConvertRemoved);
    Progress(queue, -1, "C");
    EXPECT_EQ(c->nState, kConvertFailed);
    Progress(queue, 50, "nobody"); // no job: nothing happens

    int count = 0;
    queue.OnMessage(WM_APP_QUEUE_COUNT, 0, reinterpret_cast<veneta::LParam>(&count));
    EXPECT_EQ(count, 3);
    ConvertJobPtr at;
    queue.OnMessage(WM_APP_QUEUE_JOB_AT, 1, reinterpret_cast<veneta::LParam>(&at));
    EXPECT_EQ(at, b);
    queue.OnMessage(WM_APP_QUEUE_JOB_AT, 3, reinterpret_cast<veneta::LParam>(&at));
    EXPECT_EQ(at, nullptr);
    EXPECT_EQ(queue.OnMessage(WM_APP_QUEUE_NOTHING, 0, 0), 0);
}

TEST(ConvertQueueMessages, ClearMarksFinishedJobsOrAll)
{
    CConvertQueue queue;
    ConvertJobPtr done = MakeJob("D", "/M/d.avi", kConvertComplete);
    ConvertJobPtr failed = MakeJob("F", "/M/f.avi", kConvertFailed);
    ConvertJobPtr waiting = MakeJob("W", "/M/w.avi");
    for (const ConvertJobPtr& job : { done, failed, waiting })
        Add(queue, job);
    queue.OnMessage(WM_APP_QUEUE_CLEAR, 0, 0);
    EXPECT_EQ(done->nState, kConvertRemoved);
    EXPECT_EQ(failed->nState, kConvertRemoved);
    EXPECT_EQ(waiting->nState, kConvertWaiting);
    queue.OnMessage(WM_APP_QUEUE_CLEAR, 1, 0);
    EXPECT_EQ(waiting->nState, kConvertRemoved);
}

TEST(ConvertQueueMessages, ASameNamedJobReplacesAWaitingOneButCancelsARunningOne)
{
    CConvertQueue queue;
    ConvertJobPtr waiting = MakeJob("W", "/Movies/clip.avi");
    ConvertJobPtr running = MakeJob("R", "/Movies/run.avi", kConvertConverting);
    running->bOwnsTemp = true;
    Add(queue, waiting);
    Add(queue, running);
    ConvertJobPtr replacement = MakeJob("N", "/Kids/clip.avi"); // same name, other folder
    ConvertJobPtr second = MakeJob("S", "/Kids/run.avi");
    Add(queue, replacement);
    Add(queue, second);
    std::vector<ConvertJobPtr> jobs = queue.Jobs();
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0], running) << "the running job stays until its engine and file are gone";
    EXPECT_EQ(running->nState, kConvertRemoved);
    EXPECT_EQ(jobs[1], replacement);
    EXPECT_EQ(jobs[2], second);
}

TEST(ConvertListDocument, ListsFinishedAndOpenJobsInQueueOrder)
{
    ConvertJobPtr converting = MakeJob("C1", "/M/run <1>.avi", kConvertConverting);
    converting->nProgress = 37;
    ConvertJobPtr waiting = MakeJob("W1", "/M/Kids/wait.avi");
    ConvertJobPtr failed = MakeJob("F1", "/M/bad.avi", kConvertFailed);
    ConvertJobPtr done = MakeJob("D1", "/M/done.avi", kConvertComplete);
    ConvertJobPtr removed = MakeJob("X1", "/M/gone.avi", kConvertRemoved);
    const std::string document
        = MakeConvertListDocument({ converting, waiting, failed, done, removed });
    const std::string expected = "<key>convertComplete</key><array>"
                                 "<dict><key>convertid</key><string>F1</string><key>filename</key>"
                                 "<string>bad.avi,"
        + LookupText("IDS_WORD_CONV_FAILED")
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
    ASSERT_EQ(veneta::CPXFrameMSG::Send(veneta::kFrameConversionList, WM_APP_QUEUE_ADD, 0,
                  reinterpret_cast<veneta::LParam>(&first)),
        0);
    ASSERT_EQ(veneta::CPXFrameMSG::Send(veneta::kFrameConversionList, WM_APP_QUEUE_ADD, 0,
                  reinterpret_cast<veneta::LParam>(&second)),
        0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (second->nState != kConvertFailed && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(first->nState, kConvertFailed);
    EXPECT_EQ(first->nStartFailures, 3);
    EXPECT_EQ(second->nState, kConvertFailed);
    EXPECT_FALSE(first->bOwnsTemp);
}

TEST_F(RunningQueue, AStoppedQueueTakesNoJobAndDropsWaitingOnes)
{
    ConvertJobPtr job = MakeJob("A", "/Nowhere/a.avi");
    ConvertJobPtr late = MakeJob("L", "/Nowhere/l.avi");
    Add(m_queue, job);
    m_queue.Stop();
    EXPECT_TRUE(m_queue.Jobs().empty());
    EXPECT_EQ(job->nState, kConvertRemoved);
    EXPECT_EQ(Add(m_queue, late), 1);
    EXPECT_EQ(veneta::CPXFrameMSG::GetTarget(veneta::kFrameConversionList), nullptr);
}
