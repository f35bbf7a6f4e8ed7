// Conversions over real HTTP with the real engine: a client queues, watches,
// cancels and clears jobs; the overlay answers for a job; bad requests and a
// read-only folder fail cleanly while the server keeps serving. The test waits on the
// changes the server reports to the program around it, never on the clock.

#include "conversion/convert_queue.h"
#include "core/vemba_server.h"
#include "server/streaming/live_server_fixture.h"
#include "support/http_client.h"
#include "support/step_log.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sys/mount.h>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool MakeLongClip(const std::string& path)
{
    return MakeTestClip(path, 60, 640, 360);
}
bool MakeShortClip(const std::string& path)
{
    return MakeTestClip(path, 24, 640, 360);
}

// A conversion change the server reported, as the desktop window would hear it.
struct Change {
    ConversionChange change;
    std::string id;
    int state;
    int progress;
    bool operator==(const Change&) const = default;
};

class ConversionEvents : public IServerEvents {
public:
    void ShutdownRequested() override { }
    void ConversionChanged(ConversionChange change, const ConvertInfo_t& job) override
    {
        log.Add({ change, job.strConvertID, job.nState, job.nProgress });
    }
    bool WaitFor(ConversionChange change, const std::string& id, int state = -1)
    {
        return log.WaitForMatch(
            [&](const Change& c) {
                return c.change == change && c.id == id && (state < 0 || c.state == state);
            },
            300s);
    }
    vembatest::StepLog<Change> log;
};

struct ListedJob {
    std::string id;
    std::string name;
    int value = 0; // progress for open jobs, status for finished ones
    bool finished = false;
};

class ConvertServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Running());
        ASSERT_TRUE(EnsureSharedMedia("conv-long.mp4", MakeLongClip));
        ASSERT_TRUE(EnsureSharedMedia("conv-short.mp4", MakeShortClip));
        m_server.Server().SetEvents(&m_events);
    }
    void TearDown() override { m_server.Server().SetEvents(nullptr); }

    CConvertQueue& Queue() { return m_server.Server().ConvertQueue(); }

    std::string Media(const std::string& name) const { return m_server.MediaFolder() + "/" + name; }

    // "/convert" → result code and the convert id.
    std::pair<int, std::string> Convert(const std::string& query)
    {
        HttpReply reply = m_server.Get("/convert?" + query);
        EXPECT_EQ(reply.status, 200);
        return { std::stoi(PlistValue(reply.body, "result").value_or("1")),
            PlistValue(reply.body, "convertid").value_or("") };
    }

    // Fetches the list file named by a list answer and reads its jobs.
    std::vector<ListedJob> FetchList(const HttpReply& answer)
    {
        EXPECT_EQ(PlistValue(answer.body, "result"), "0") << answer.body;
        std::string url = PlistValue(answer.body, "fileurl").value_or("");
        EXPECT_TRUE(url.starts_with("http://127.0.0.1:")) << url;
        HttpReply file = m_server.Get(LoopbackServer::PathOf(url));
        EXPECT_EQ(file.status, 200);
        EXPECT_EQ(m_server.Get(LoopbackServer::PathOf(url)).status, 404)
            << "a list file is fetched once";
        std::vector<ListedJob> jobs;
        size_t wait = file.body.find("<key>convertWait</key>");
        static const std::regex entry(
            "<dict><key>convertid</key><string>([0-9A-F]+)</string><key>filename</key>"
            "<string>([^<]*)</string><key>(status|progress)</key><string>(-?[0-9]+)</string></"
            "dict>");
        for (auto it = std::sregex_iterator(file.body.begin(), file.body.end(), entry);
             it != std::sregex_iterator(); ++it) {
            ListedJob job { (*it)[1], (*it)[2], std::stoi((*it)[4]),
                size_t(it->position()) < wait };
            EXPECT_EQ(job.finished, (*it)[3] == "status");
            jobs.push_back(job);
        }
        return jobs;
    }
    std::vector<ListedJob> List() { return FetchList(m_server.Get("/convertList")); }

    static std::optional<ListedJob> Find(const std::vector<ListedJob>& jobs, const std::string& id)
    {
        for (const ListedJob& job : jobs) {
            if (job.id == id)
                return job;
        }
        return std::nullopt;
    }

    LoopbackServer m_server;
    ConversionEvents m_events;
};

bool MoovBeforeMdat(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string head(1 << 20, '\0');
    in.read(head.data(), head.size());
    head.resize(size_t(in.gcount()));
    size_t moov = head.find("moov");
    return moov != std::string::npos && moov < head.find("mdat");
}

} // namespace

TEST_F(ConvertServer, QueueWatchCancelFinishAndClearOverHttp)
{
    ASSERT_TRUE(PutMedia(m_server, "conv-long.mp4", "first.mp4"));
    ASSERT_TRUE(PutMedia(m_server, "conv-short.mp4", "second.mp4"));
    auto [firstCode, first] = Convert("path=/Movies/first.mp4&device=2&option=1");
    auto [secondCode, second] = Convert("path=%2FMovies%2Fsecond.mp4");
    ASSERT_EQ(firstCode, 0);
    ASSERT_EQ(secondCode, 0);
    ASSERT_EQ(first.size(), 32u);
    ASSERT_NE(first, second);

    // The first converts, the second waits.
    ASSERT_TRUE(m_events.log.WaitForMatch(
        [&](const Change& c) {
            return c.change == ConversionChange::Progress && c.id == first && c.progress > 0;
        },
        300s));
    std::vector<ListedJob> jobs = List();
    ASSERT_TRUE(Find(jobs, first));
    EXPECT_GT(Find(jobs, first)->value, 0);
    EXPECT_FALSE(Find(jobs, first)->finished);
    ASSERT_TRUE(Find(jobs, second));
    EXPECT_EQ(Find(jobs, second)->value, -1) << "a waiting job lists progress -1";
    const std::string firstTemp = Media("first-vembacast.m4vtmp");
    EXPECT_TRUE(fs::exists(firstTemp));
    EXPECT_EQ(Convert("path=/Movies/first.mp4").first, -15)
        << "its target belongs to a running job";

    // Cancel the running job: its file goes, the next job starts.
    std::vector<ListedJob> afterCancel
        = FetchList(m_server.Get("/convertCancel?convertid=" + first));
    EXPECT_FALSE(Find(afterCancel, first));
    // Taken out by the worker once its engine has stopped and its file is deleted.
    ASSERT_TRUE(m_events.WaitFor(ConversionChange::Deleted, first));
    EXPECT_FALSE(fs::exists(firstTemp)) << "the cancelled job's temporary file is gone";

    ASSERT_TRUE(m_events.WaitFor(ConversionChange::State, second, kConvertComplete));
    std::vector<int> progress;
    for (const Change& c : m_events.log.Events()) {
        if (c.change == ConversionChange::Progress && c.id == second)
            progress.push_back(c.progress);
    }
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end())) << "progress only rises";
    EXPECT_TRUE(std::any_of(progress.begin(), progress.end(), [](int p) {
        return p > 0 && p < 100;
    })) << "progress was seen between the ends";
    jobs = List();
    ASSERT_TRUE(Find(jobs, second));
    EXPECT_EQ(Find(jobs, second)->value, 0) << "status 0: complete";
    EXPECT_EQ(Find(jobs, second)->name, "second.mp4");

    const std::string output = Media("second-vembacast.m4v");
    ASSERT_TRUE(fs::exists(output));
    EXPECT_FALSE(fs::exists(Media("second-vembacast.m4vtmp")));
    EXPECT_FALSE(fs::exists(Media("first-vembacast.m4v")));
    MediaFacts facts = ProbeMedia(output);
    EXPECT_NEAR(facts.duration, ProbeMedia(Media("second.mp4")).duration, 0.5);
    EXPECT_GT(facts.videoFrames, 0);
    EXPECT_TRUE(MoovBeforeMdat(output)) << "directly playable while it downloads";
    EXPECT_TRUE(RunTool("ffmpeg -nostdin -v error -i " + ShellQuote(output) + " -f null -"));

    HttpReply range = HttpGetRaw(
        m_server.Port(), "/file_download/Movies/second-vembacast.m4v", "Range: bytes=0-99\r\n");
    EXPECT_EQ(range.status, 206);
    EXPECT_EQ(range.body.size(), 100u);
    EXPECT_EQ(Convert("path=/Movies/second.mp4").first, -15) << "the result exists already";

    std::vector<ListedJob> cleared = FetchList(m_server.Get("/convertDeleteCompleteList"));
    EXPECT_FALSE(Find(cleared, second));
    EXPECT_TRUE(fs::exists(output)) << "clearing the list keeps the file";
    ASSERT_TRUE(m_events.WaitFor(ConversionChange::Deleted, second));
    EXPECT_TRUE(Queue().Jobs().empty());
    EXPECT_EQ(CountChildEngines(), 0);
}

TEST_F(ConvertServer, BadRequestsGetTheirCodesAndQueueNothing)
{
    ASSERT_TRUE(PutMedia(m_server, "conv-short.mp4", "clip.mp4"));
    fs::create_symlink("/etc/hostname", Media("escape.mp4"));
    EXPECT_EQ(Convert("").first, -11);
    EXPECT_EQ(Convert("path=").first, -11);
    EXPECT_EQ(Convert("path=/Nowhere/clip.mp4").first, -12);
    EXPECT_EQ(Convert("path=/Movies/missing.mp4").first, -12);
    EXPECT_EQ(Convert("path=/Movies/../Movies/clip.mp4").first, -12);
    EXPECT_EQ(Convert("path=/Movies/escape.mp4").first, -12) << "a link out of the share";
    EXPECT_EQ(Convert("path=/Movies").first, -12) << "a share is no file";
    HttpReply cancel = m_server.Get("/convertCancel");
    EXPECT_EQ(PlistValue(cancel.body, "result"), "-11");
    cancel = m_server.Get("/convertCancel?convertid=00000000000000000000000000000000");
    EXPECT_EQ(PlistValue(cancel.body, "result"), "-14");
    HttpReply progress = m_server.Get("/convertProgress");
    EXPECT_TRUE(progress.body.empty());
    EXPECT_TRUE(Queue().Jobs().empty());
    EXPECT_TRUE(List().empty());
}

TEST_F(ConvertServer, SubtitleOverlayOfAJobDrawsItsKoreanLine)
{
    ASSERT_TRUE(PutMedia(m_server, "conv-short.mp4", "talk.mp4"));
    WriteSamiFile(Media("talk.smi"), 2000, 4000, "안녕하세요 hello");
    auto [code, id] = Convert("path=/Movies/talk.mp4");
    ASSERT_EQ(code, 0);
    auto words = [](const std::string& raw, size_t index) {
        const auto* b = reinterpret_cast<const unsigned char*>(raw.data()) + index * 4;
        return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    };
    const std::string base = "/subtitle?id=" + id + "&width=480&height=320&time=";
    std::string waiting = HttpGetRaw(m_server.Port(), base + "500").raw;
    ASSERT_EQ(waiting.size(), 8u);
    EXPECT_GE(words(waiting, 0), 1900u);
    EXPECT_EQ(words(waiting, 1), 0u);

    std::string drawn = HttpGetRaw(m_server.Port(), base + "2500").raw;
    ASSERT_GE(drawn.size(), 24u);
    EXPECT_EQ(words(drawn, 1), 1u);
    const uint32_t width = words(drawn, 4), height = words(drawn, 5);
    ASSERT_GT(width, 0u);
    ASSERT_EQ(drawn.size(), 24u + size_t(width) * height * 4);
    EXPECT_EQ(words(drawn, 2), (480 - width) / 2);
    EXPECT_EQ(words(drawn, 3), 320 - height - 10);
    size_t visible = 0;
    for (size_t i = 24; i < drawn.size(); i += 4)
        visible += static_cast<unsigned char>(drawn[i]) == 255;
    EXPECT_GT(visible, 200u);

    EXPECT_EQ(HttpGetRaw(m_server.Port(), "/subtitle?id=FFFF&time=2500&width=480&height=320").raw,
        std::string(8, '\0'));
    EXPECT_EQ(HttpGetRaw(m_server.Port(), "/subtitle?id=" + id + "&time=99999999&width=-5&height=x")
                  .raw.size(),
        8u);
}

TEST_F(ConvertServer, AReadOnlyFolderFailsTheJobAndTheServerKeepsServing)
{
    const std::string folder = Media("locked");
    fs::create_directories(folder);
    ASSERT_TRUE(PutMedia(m_server, "conv-short.mp4", "locked/clip.mp4"));
    if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "bind mounts are not permitted here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount { folder };
    if (mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        GTEST_SKIP() << "read-only remounts are not permitted here: " << std::strerror(errno);

    auto [code, id] = Convert("path=/Movies/locked/clip.mp4");
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(m_events.WaitFor(ConversionChange::State, id, kConvertFailed));
    auto job = Find(List(), id);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->value, -1) << "failed";
    EXPECT_TRUE(job->name.starts_with("clip.mp4,"));
    EXPECT_FALSE(fs::exists(folder + "/clip-vembacast.m4vtmp"));
    EXPECT_FALSE(fs::exists(folder + "/clip-vembacast.m4v"));
    EXPECT_EQ(m_server.Get("/getList?path=/Movies").status, 200);
    EXPECT_EQ(CountChildEngines(), 0);
}
