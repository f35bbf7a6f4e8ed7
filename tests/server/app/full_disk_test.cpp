// The daemon on a disk that fills and empties again (a small tmpfs): a start on a full
// data disk says the disk is full, and a live stream whose engine died of the full
// disk plays on once there is room.

#include "config/settings.h"
#include "config/settings_store.h"
#include "daemon_process.h"
#include "platform/adapters.h"
#include "support/http_client.h"
#include "support/small_disk.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class FullDiskDaemon : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ListAdapters().empty())
            GTEST_SKIP() << "no network adapter: the server cannot be set up here";
        std::string why;
        if (!m_disk.Mount(m_diskFolder, 48 * 1024 * 1024, why))
            GTEST_SKIP() << "no small disk can be mounted here: " << why;
        fs::create_directories(m_media);
        fs::create_directories(m_trace);
        // Every trace line goes to the log file.
        WriteFileText(m_trace + "/Veneta.ini", "[DEBUG]\nPXTRACE=2\nPXTRACE_MASK=0xFFFFFFFF\n");
    }

    std::unique_ptr<DaemonProcess> Run(std::vector<std::string> more = {})
    {
        std::vector<std::string> arguments { "--data-dir", m_data, "--share", "Movies=" + m_media };
        arguments.insert(arguments.end(), more.begin(), more.end());
        const std::string out = m_root / ("run" + std::to_string(++m_runs));
        fs::create_directories(out);
        return std::make_unique<DaemonProcess>(arguments, out);
    }

    std::string Listening() const { return "listening on port " + std::to_string(m_port); }

    std::string TraceLog() const
    {
        std::string all;
        for (const auto& entry : fs::directory_iterator(m_trace)) {
            if (entry.path().extension() == ".log")
                all += ReadFileText(entry.path());
        }
        return all;
    }

    TempFolder m_root;
    std::string m_diskFolder = m_root / "disk";
    std::string m_data = m_diskFolder + "/data";
    std::string m_media = m_diskFolder + "/media";
    std::string m_trace = m_root / "trace";
    ScopedEnv m_traceEnv { "VEMBACAST_TRACE_DIR", m_trace };
    vembatest::SmallDisk m_disk;
    int m_port = PickFreePort();
    int m_runs = 0;
};

} // namespace

TEST_F(FullDiskDaemon, AStartOnAFullDataDiskSaysTheDiskIsFull)
{
    auto first = Run({ "--port", std::to_string(m_port) });
    ASSERT_TRUE(first->WaitForOutput(Listening())) << first->Err();
    first->Signal(SIGTERM);
    ASSERT_EQ(first->WaitExit(), 0);
    // The start corrects ExtPort (mapping is off): a setting it must write.
    ASSERT_TRUE(SettingsStore(m_data).WriteText(kKeyExtPort, "1"));
    for (const auto& entry : fs::directory_iterator(m_data)) {
        if (entry.path().extension() == ".bak")
            fs::remove(entry.path()); // nothing left to free by replacing it
    }
    ASSERT_TRUE(m_disk.Fill("filler"));

    auto withPort = Run({ "--port", std::to_string(PickFreePort()) });
    EXPECT_EQ(withPort->WaitExit(), 1);
    EXPECT_NE(withPort->Err().find("disk of the data folder is full"), std::string::npos)
        << withPort->Err();

    auto plain = Run();
    EXPECT_EQ(plain->WaitExit(), 1);
    EXPECT_NE(plain->Err().find("disk of the data folder is full"), std::string::npos)
        << plain->Err();
    EXPECT_NE(plain->Err().find("(code 10)"), std::string::npos) << plain->Err();
    EXPECT_EQ(plain->Err().find("port may be taken"), std::string::npos) << plain->Err();
    EXPECT_NE(TraceLog().find("ENOSPC"), std::string::npos);

    ASSERT_TRUE(m_disk.Empty());
    auto after = Run();
    EXPECT_TRUE(after->WaitForOutput("listening on port")) << after->Err();
}

TEST_F(FullDiskDaemon, AStreamWhoseEngineDiedOfAFullDiskPlaysAgainOnceThereIsRoom)
{
    // Ten minutes, made of one piece repeated (no encoding), so the engine is still at
    // work when the disk fills.
    const std::string piece = m_root / "piece.mp4";
    ASSERT_TRUE(vembatest::RunCommand(
        "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc=size=320x240:rate=24:duration=20 "
        "-c:v libx264 -preset veryfast -crf 35 -g 48 -pix_fmt yuv420p "
        + vembatest::ShellQuote(piece)));
    ASSERT_TRUE(vembatest::RunCommand("ffmpeg -nostdin -y -loglevel error -stream_loop 29 -i "
        + vembatest::ShellQuote(piece) + " -c copy -movflags +faststart "
        + vembatest::ShellQuote(m_media + "/long.mp4")));
    auto daemon = Run({ "--port", std::to_string(m_port) });
    ASSERT_TRUE(daemon->WaitForOutput(Listening())) << daemon->Err();
    // Room for the playlists and a few segments only: the engine runs far ahead of
    // the segments asked for, so the disk must be nearly full before it starts.
    ASSERT_TRUE(m_disk.Fill("filler"));
    ASSERT_TRUE(m_disk.Free(2 * 1024 * 1024));

    HttpReply connect = HttpGetRaw(m_port, "/connect");
    const std::string key = "<key>message</key><string>";
    const std::string id = connect.body.substr(connect.body.find(key) + key.size(), 32);
    HttpReply play = HttpGetRaw(m_port,
        "/play?id=" + id
            + "&path=%2FMovies%2Flong.mp4&width=480&height=320&ostype=iOS&conntype=WIFI"
              "&playtime=00%3A10%3A00"); // the length, as the listing gave it
    ASSERT_NE(play.body.find("<key>result</key><string>0</string>"), std::string::npos)
        << play.body;
    // The one variant the master playlist names.
    const std::string master = HttpGetRaw(m_port, "/list/" + id + "/files.m3u8").body;
    const size_t name = master.find("movie");
    ASSERT_NE(name, std::string::npos) << master;
    const std::string variant = master.substr(name + 5, 1);
    ASSERT_EQ(HttpGetRaw(m_port, "/list/" + id + "/movie" + variant + ".m3u8").status, 200);
    auto segment = [&](int n) {
        return HttpGetRaw(
            m_port, "/file/" + id + "/vemba-" + variant + "-" + std::to_string(n) + ".ts");
    };
    ASSERT_EQ(segment(1).status, 200) << daemon->Err() << TraceLog();
    ASSERT_EQ(segment(2).status, 200);

    // The engine runs ahead until the disk is full and dies of it. The segments asked
    // for meanwhile come from it or from a run started again at them (a new run
    // removes the old run's segments, which gives some room back).
    const std::string diedOfFullDisk = "disk of the work folder is full (ENOSPC)";
    int next = 3;
    bool diskFull = false;
    for (; next <= 110 && !diskFull; ++next) {
        segment(next);
        diskFull = TraceLog().find(diedOfFullDisk) != std::string::npos;
    }
    ASSERT_TRUE(diskFull) << "the disk never stopped the engine";

    // Once there is room the stream plays on from the next segment asked for.
    ASSERT_TRUE(m_disk.Empty());
    for (int n = next; n < next + 3; ++n) {
        HttpReply again = segment(n);
        ASSERT_EQ(again.status, 200) << "segment " << n;
        ASSERT_FALSE(again.body.empty());
        EXPECT_EQ(again.body[0], '\x47') << "an MPEG-TS segment";
    }
    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->WaitExit(), 0);
}
