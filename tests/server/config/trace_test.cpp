#include "config/trace.h"
#include "server/platform/temp_folder.h"
#include "server/platform/text_shape.h"

#include <cstdio>
#include <ctime>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::string_view kPrefixShape = "\r\n[99:99:99] ] ";

// The texts of the log's entries, each checked to start with the time prefix; an
// entry's text never holds CR LF, so CR LF followed by "[" starts the next entry.
std::vector<std::string> SplitEntries(const std::string& log, bool& wellFormed)
{
    std::vector<std::string> texts;
    wellFormed = true;
    for (size_t at = 0; at < log.size();) {
        size_t next = log.find("\r\n[", at + 1);
        std::string entry
            = log.substr(at, next == std::string::npos ? std::string::npos : next - at);
        if (!HasShape(std::string_view(entry).substr(0, kPrefixShape.size()), kPrefixShape))
            wellFormed = false;
        texts.push_back(
            entry.size() > kPrefixShape.size() ? entry.substr(kPrefixShape.size()) : "");
        at = next == std::string::npos ? log.size() : next;
    }
    return texts;
}

// Each test gets its own program folder stand-in and runtime folder.
class TraceLog : public ::testing::Test {
protected:
    TempFolder m_folder;
    TempFolder m_runtime;
    ScopedEnv m_traceEnv { "VEMBACAST_TRACE_DIR", m_folder.path() };
    ScopedEnv m_runtimeEnv { "XDG_RUNTIME_DIR", m_runtime.path() };

    void SetUp() override { ResetTraceStateForTesting(); }
    void TearDown() override { ResetTraceStateForTesting(); }

    void writeSwitches(const std::string& lines)
    {
        WriteFileText(m_folder / "Veneta.ini", "[DEBUG]\n" + lines);
    }

    std::string todaysLog() const
    {
        std::time_t now = std::time(nullptr);
        std::tm local {};
        localtime_r(&now, &local);
        char name[64];
        std::strftime(name, sizeof(name), "LogFile[%Y-%m-%d].log", &local);
        return m_folder / name;
    }
};

// A viewer stand-in: a datagram socket bound at the runtime folder's "Displayer".
class Viewer {
public:
    explicit Viewer(const std::string& folder)
    {
        m_fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::string path = folder + "/Displayer";
        path.copy(address.sun_path, sizeof(address.sun_path) - 1);
        bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    }
    ~Viewer() { close(m_fd); }

    // The next datagram, or nothing within the wait.
    std::optional<std::string> receive(int waitMs = 1000)
    {
        pollfd ready { m_fd, POLLIN, 0 };
        if (poll(&ready, 1, waitMs) != 1)
            return std::nullopt;
        char buffer[70000];
        ssize_t got = recv(m_fd, buffer, sizeof(buffer), 0);
        if (got < 0)
            return std::nullopt;
        return std::string(buffer, static_cast<size_t>(got));
    }

private:
    int m_fd = -1;
};

TEST_F(TraceLog, WithoutSwitchFileTheViewerGetsItAndNoFileIsMade)
{
    Viewer viewer(m_runtime.path());
    EXPECT_EQ(TraceMessage(kTraceRequest, "Noti : OnNotifyConnect: ('%s')", "/connect"), 0);
    auto datagram = viewer.receive();
    ASSERT_TRUE(datagram);
    EXPECT_EQ(
        *datagram, std::string("\x10\x00\x01\x00", 4) + "Noti : OnNotifyConnect: ('/connect')");
    EXPECT_FALSE(std::filesystem::exists(todaysLog()));
}

TEST_F(TraceLog, NobodyListeningIsNoFault)
{
    writeSwitches("PXTRACE=3\n");
    EXPECT_EQ(TraceMessage(kTraceProgress, "no viewer"), 0);
    EXPECT_NE(ReadFileText(todaysLog()).find("no viewer"), std::string::npos);
}

TEST_F(TraceLog, FileOnlySwitchUsesTheDefaultMask)
{
    writeSwitches("PXTRACE=2\n");
    Viewer viewer(m_runtime.path());
    TraceMessage(kTraceProgress, "kept %d", 1);
    TraceMessage(kTraceEngineLifetime, "ClientInfo::StartENC (%d)", 7);
    TraceMessage(kTraceStreamFailure, "dropped too");
    std::string log = ReadFileText(todaysLog());
    EXPECT_NE(log.find("kept 1"), std::string::npos);
    EXPECT_EQ(log.find("StartENC"), std::string::npos);
    EXPECT_EQ(log.find("dropped"), std::string::npos);
    EXPECT_FALSE(viewer.receive(50)) << "the viewer sink is off";
}

TEST_F(TraceLog, WidenedMaskLetsFailuresThrough)
{
    writeSwitches("PXTRACE=2\nPXTRACE_MASK=0x3FFFFF\n");
    TraceMessage(kTraceStreamFailure, "stream failure");
    TraceMessage(kTraceConvertTwice, "converted twice");
    TraceMessage(0x400008, "outside even this mask");
    std::string log = ReadFileText(todaysLog());
    EXPECT_NE(log.find("stream failure"), std::string::npos);
    EXPECT_NE(log.find("converted twice"), std::string::npos);
    EXPECT_EQ(log.find("outside"), std::string::npos);
}

TEST_F(TraceLog, NarrowMaskLetsNoLevelOfTheTableThrough)
{
    writeSwitches("PXTRACE=2\nPXTRACE_MASK=8\n");
    for (uint32_t level : { 0x10002u, 0x10008u, 0x20008u, 0x40080u, 0x200009u })
        TraceMessage(level, "level %x", level);
    EXPECT_FALSE(std::filesystem::exists(todaysLog()));
}

TEST_F(TraceLog, EntriesHaveTheTimePrefixAndNoLineEnd)
{
    writeSwitches("PXTRACE=2\n");
    TraceMessage(kTraceRequest, "abc");
    TraceMessage(kTraceRequest, "%s %.2f", "second", 1.5);
    std::string log = ReadFileText(todaysLog());
    bool wellFormed = false;
    EXPECT_EQ(SplitEntries(log, wellFormed), (std::vector<std::string> { "abc", "second 1.50" }));
    EXPECT_TRUE(wellFormed) << log;
    EXPECT_EQ(log.substr(0, 2), "\r\n") << "the file starts with CR LF";
}

TEST_F(TraceLog, AnExistingDaysFileIsAppendedTo)
{
    writeSwitches("PXTRACE=2\n");
    WriteFileText(todaysLog(), "\r\n[00:00:01] ] earlier run");
    TraceMessage(kTraceProgress, "this run");
    std::string log = ReadFileText(todaysLog());
    EXPECT_EQ(log.rfind("\r\n[00:00:01] ] earlier run\r\n[", 0), 0u) << log;
    EXPECT_NE(log.find("] this run"), std::string::npos);
}

TEST_F(TraceLog, SwitchesAreReadOnce)
{
    writeSwitches("PXTRACE=2\n");
    TraceMessage(kTraceProgress, "first");
    writeSwitches("PXTRACE=0\n");
    TraceMessage(kTraceProgress, "second");
    EXPECT_NE(ReadFileText(todaysLog()).find("second"), std::string::npos);
}

TEST_F(TraceLog, BadSwitchValuesGiveTheDefaults)
{
    writeSwitches("PXTRACE=two\nPXTRACE_MASK=0xZZ\n");
    Viewer viewer(m_runtime.path());
    TraceMessage(kTraceProgress, "default switches");
    EXPECT_TRUE(viewer.receive());
    EXPECT_FALSE(std::filesystem::exists(todaysLog()));
}

TEST_F(TraceLog, NullFormatDoesNothing)
{
    writeSwitches("PXTRACE=3\n");
    Viewer viewer(m_runtime.path());
    const char* volatile none = nullptr;
    EXPECT_EQ(TraceMessage(kTraceProgress, none), 0);
    EXPECT_FALSE(viewer.receive(50));
    EXPECT_FALSE(std::filesystem::exists(todaysLog()));
}

TEST_F(TraceLog, TheFileStaysUtf8)
{
    writeSwitches("PXTRACE=2\n");
    TraceMessage(kTraceProgress, "%s|%s", "\xED\x95\x9C\xEA\xB8\x80", "bad\xFF\xC3");
    std::string log = ReadFileText(todaysLog());
    EXPECT_NE(log.find("\xED\x95\x9C\xEA\xB8\x80|bad\xEF\xBF\xBD\xEF\xBF\xBD"), std::string::npos);
}

TEST_F(TraceLog, ConcurrentCallersKeepEntriesWhole)
{
    writeSwitches("PXTRACE=3\n");
    constexpr int kThreads = 6;
    constexpr int kEach = 150;
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t) {
        callers.emplace_back([t] {
            std::string filler(100 + t * 37, static_cast<char>('a' + t));
            for (int i = 0; i < kEach; ++i)
                TraceMessage(kTraceRequest, "thread %d message %d %s", t, i, filler.c_str());
        });
    }
    for (auto& caller : callers)
        caller.join();
    std::string log = ReadFileText(todaysLog());
    bool wellFormed = false;
    std::vector<std::string> texts = SplitEntries(log, wellFormed);
    EXPECT_TRUE(wellFormed) << "only whole entries in the file";
    ASSERT_EQ(texts.size(), static_cast<size_t>(kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    for (const std::string& text : texts) {
        int thread = -1, index = -1, fillerStart = 0;
        ASSERT_EQ(
            std::sscanf(text.c_str(), "thread %d message %d %n", &thread, &index, &fillerStart), 2)
            << text;
        ASSERT_TRUE(thread >= 0 && thread < kThreads);
        EXPECT_EQ(index, next[thread]++) << "entries of one thread stay in order";
        EXPECT_EQ(text.substr(static_cast<size_t>(fillerStart)),
            std::string(100 + thread * 37, static_cast<char>('a' + thread)));
    }
}

TEST_F(TraceLog, ViewerGetsTheLevelWordLittleEndianAndIgnoresTheMask)
{
    writeSwitches("PXTRACE=1\nPXTRACE_MASK=0\n");
    Viewer viewer(m_runtime.path());
    TraceMessage(kTraceEngineLifetime, "StopENC");
    auto datagram = viewer.receive();
    ASSERT_TRUE(datagram);
    EXPECT_EQ(*datagram, std::string("\x09\x00\x20\x00", 4) + "StopENC");
}

} // namespace
