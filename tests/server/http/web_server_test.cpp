#include "config/trace.h"
#include "core/vemba_server.h"
#include "platform/places.h"
#include "support/port_holder.h"
#include "web_server_fixture.h"

#include <condition_variable>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A console that takes its time: each exchange waits until the test lets it end (or
// the server cancels it), then fails as if the console could not be reached.
class HangingConsole final : public IHttpTransport {
public:
    TransportResult Exchange(
        const HttpTarget&, const std::string&, bool, const CancelFlag* cancel) override
    {
        std::unique_lock lock(m_lock);
        ++m_asked;
        m_changed.notify_all();
        while (!m_released && !(cancel && cancel->load()))
            m_changed.wait_for(lock, 10ms); // the cancel flag has no signal of its own
        return { TransportFailure::Connect, 0, {} };
    }
    void WaitAsked()
    {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [&] { return m_asked > 0; });
    }
    void Release()
    {
        std::lock_guard lock(m_lock);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_asked = 0; // guarded by m_lock
    bool m_released = false; // guarded by m_lock
};

} // namespace

TEST_F(WebServerTest, StartServesAndStopEndsIt)
{
    WriteGoodSettings();
    auto server = MakeServer();
    CWebServer& web = server->WebServer();
    ASSERT_TRUE(web.Start()) << web.m_nLastError;
    EXPECT_TRUE(web.IsRunning());
    EXPECT_EQ(web.ListeningPort(), m_port);
    EXPECT_EQ(web.m_nPort, m_port);
    EXPECT_EQ(web.m_strInIP, "127.0.0.1");
    EXPECT_EQ(server->ExtPort(), static_cast<unsigned>(m_port));
    EXPECT_EQ(Get("/index.html").body, "<html>root</html>");

    EXPECT_TRUE(web.Stop());
    EXPECT_FALSE(web.IsRunning());
    EXPECT_EQ(web.ListeningPort(), 0);
    EXPECT_EQ(web.m_nPort, 0);
    EXPECT_FALSE(Get("/index.html").connected);
}

TEST_F(WebServerTest, StartingTwiceFailsWithCode4AndAnotherServerOnThePortWithCode3)
{
    WriteGoodSettings();
    auto server = MakeServer();
    ASSERT_TRUE(server->WebServer().Start());
    EXPECT_FALSE(server->WebServer().Start());
    EXPECT_EQ(server->WebServer().m_nLastError, kWebErrorAlreadyRunning);
    EXPECT_EQ(server->WebServer().m_nPort, m_port); // the checks ran and reloaded the fields
    auto second = MakeServer(); // the same settings, so the same port
    EXPECT_FALSE(second->WebServer().Start());
    EXPECT_EQ(second->WebServer().m_nLastError, kWebErrorNetwork);
    EXPECT_FALSE(second->WebServer().IsRunning());
    EXPECT_EQ(Get("/connect").status, 200);
    EXPECT_TRUE(server->WebServer().Stop());
}

// Two servers in one process, each over its own data folder: each serves its own
// port, and stopping one leaves the other running.
TEST_F(WebServerTest, TwoServersRunSideBySide)
{
    WriteGoodSettings();
    auto server = MakeServer();
    ASSERT_TRUE(server->WebServer().Start());
    vembatest::TestDataFolder otherData("vembaweb");
    ServerParts otherParts = otherData.Parts();
    const int otherPort = vembatest::WriteServedSettings(*otherParts.settings); // not ours
    HttpContext other(otherParts);
    WebServerConfig config;
    config.documentRoot = m_root / "sub";
    WriteFileText(m_root / "sub/index.html", "<html>other</html>");
    other.WebServer().Configure({}, config);
    ASSERT_TRUE(other.WebServer().Start()) << other.WebServer().m_nLastError;
    EXPECT_EQ(other.WebServer().ListeningPort(), otherPort);
    EXPECT_EQ(HttpGetRaw(otherPort, "/index.html").body, "<html>other</html>");
    EXPECT_TRUE(server->WebServer().Stop());
    EXPECT_FALSE(Get("/index.html").connected);
    EXPECT_TRUE(other.WebServer().IsRunning());
    EXPECT_EQ(HttpGetRaw(otherPort, "/index.html").body, "<html>other</html>");
    EXPECT_TRUE(other.WebServer().Stop());
}

TEST_F(WebServerTest, StoppingAStoppedServerFailsWithCode6AndStillCleansUp)
{
    std::string services = m_data.ServicesFolder();
    fs::create_directories(services + "/ABCDEF0123/keep");
    WriteFileText(services + "/ABCDEF0123/vemba-1-1.ts", "ts");
    WriteFileText(services + "/ABCDEF0123/files.m3u8", "m3u8");
    // A killed run's session folder that nobody remembers, and a share's thumbnails.
    const std::string killed = services + "/0123456789ABCDEF0123456789ABCDEF";
    fs::create_directories(killed);
    WriteFileText(killed + "/vemba-1-3.ts.part", "ts");
    fs::create_directories(services + "/Movies");
    WriteFileText(services + "/Movies/clip.mp4_s.jpg", "jpeg");
    const std::string listA = "fil" + std::string(32, 'A') + ".tmp";
    const std::string list0 = "fil" + std::string(32, '0') + ".tmp";
    for (const std::string& name : { listA, list0, std::string("keep.tmp"),
             std::string("filXYZ.tmp"), std::string("fil1A.tmp") })
        WriteFileText(services + "/" + name, "list");
    TempFolder outside;
    WriteFileText(outside / "a.ts", "not ours");
    // The whole server: its stop clears what its streaming layer remembers.
    CVembaServer server(m_data.Parts());
    WorkFolderBook& folders = server.WorkFolders();
    folders.RememberWorkFolder(services + "/ABCDEF0123");
    folders.RememberWorkFolder(services + "/ABCDEF0123"); // the same folder, once
    // Another folder on this file system, though it differs only in case.
    fs::create_directories(services + "/abcdef0123");
    WriteFileText(services + "/abcdef0123/vemba-1-1.ts", "segment");
    folders.RememberWorkFolder(services + "/abcdef0123");
    folders.RememberWorkFolder(outside.path());
    EXPECT_EQ(folders.RememberedWorkFolders().size(), 3u);

    EXPECT_FALSE(server.Stop());
    EXPECT_EQ(server.WebServer().m_nLastError, kWebErrorNotRunning);
    EXPECT_FALSE(fs::exists(services + "/ABCDEF0123"));
    EXPECT_FALSE(fs::exists(killed));
    EXPECT_TRUE(fs::exists(services + "/Movies/clip.mp4_s.jpg"));
    EXPECT_FALSE(fs::exists(services + "/" + listA));
    EXPECT_FALSE(fs::exists(services + "/" + list0));
    EXPECT_TRUE(fs::exists(services + "/keep.tmp"));
    EXPECT_TRUE(fs::exists(services + "/filXYZ.tmp"));
    EXPECT_TRUE(fs::exists(services + "/fil1A.tmp"));
    EXPECT_TRUE(fs::exists(outside / "a.ts")) << "a folder outside the services folder was touched";
    EXPECT_TRUE(folders.RememberedWorkFolders().empty());
}

TEST_F(WebServerTest, StartSweepsTheSessionFoldersAndListFilesOfAKilledRun)
{
    WriteGoodSettings();
    const std::string services = m_data.ServicesFolder();
    const std::string killed = services + "/FEDCBA9876543210FEDCBA9876543210";
    fs::create_directories(killed);
    WriteFileText(killed + "/vemba-2-9.ts", "ts");
    const std::string list = services + "/fil" + std::string(32, 'C') + ".tmp";
    WriteFileText(list, "list");
    fs::create_directories(services + "/Movies");
    WriteFileText(services + "/Movies/clip.mp4_s.jpg", "jpeg");
    CVembaServer server(m_data.Parts());
    ASSERT_TRUE(server.Start());
    EXPECT_FALSE(fs::exists(killed));
    EXPECT_FALSE(fs::exists(list));
    EXPECT_TRUE(fs::exists(services + "/Movies/clip.mp4_s.jpg"));
    EXPECT_TRUE(server.Stop());
}

TEST_F(WebServerTest, ASuccessfulStartForgetsOldWorkFolders)
{
    WriteGoodSettings();
    std::string folder = m_data.ServicesFolder() + "/OLDCLIENT";
    fs::create_directories(folder);
    CVembaServer server(m_data.Parts());
    server.WorkFolders().RememberWorkFolder(folder);
    ASSERT_TRUE(server.Start());
    EXPECT_TRUE(server.WorkFolders().RememberedWorkFolders().empty());
    EXPECT_TRUE(server.Stop());
    EXPECT_TRUE(fs::exists(folder)); // forgotten, so the stop leaves it
}

TEST_F(WebServerTest, IncompleteSettingsFailWithCode1)
{
    auto server = MakeServer();
    CWebServer& web = server->WebServer();
    EXPECT_FALSE(web.Start()); // no settings file at all
    EXPECT_EQ(web.m_nLastError, kWebErrorSettings);

    WriteGoodSettings();
    Set("MACA", "");
    EXPECT_FALSE(web.Start());
    EXPECT_EQ(web.m_nLastError, kWebErrorSettings);

    WriteGoodSettings();
    Settings().WriteInt("PasswordMode", 1);
    EXPECT_FALSE(web.Start());
    EXPECT_EQ(web.m_nLastError, kWebErrorSettings);
    Set("Password", "1234");

    Settings().WriteInt("PINCodeMode", 1);
    Set("PINCode", "");
    EXPECT_FALSE(web.Start());
    EXPECT_EQ(web.m_nLastError, kWebErrorSettings);
    Set("PINCode", "777777");
    ASSERT_TRUE(web.Start());
    EXPECT_TRUE(web.Stop());

    Settings().WriteInt("SET", 0);
    EXPECT_FALSE(web.Start());
    EXPECT_EQ(web.m_nLastError, kWebErrorSettings);
    EXPECT_FALSE(web.IsRunning());
}

// The console may answer late or never: the server starts and serves without waiting
// for the external address, and a console that fails changes nothing.
TEST_F(WebServerTest, TheStartNeitherWaitsForNorDependsOnTheConsole)
{
    WriteGoodSettings();
    Set(kKeyTestServerURL, "http://console.example/");
    auto console = std::make_shared<HangingConsole>();
    CVembaServer server(m_data.Parts(), RemoteParts { console, nullptr });
    ASSERT_TRUE(server.Start()) << server.WebServer().m_nLastError;
    console->WaitAsked(); // asked, and not answering
    EXPECT_EQ(Get("/connect").status, 200);
    EXPECT_TRUE(server.WebServer().IsRunning());
    console->Release();
    EXPECT_TRUE(server.ExternalAddress().WaitIdle());
    EXPECT_EQ(server.ExternalAddress().Successes(), 0u);
    EXPECT_EQ(Settings().ReadText(kKeyExtIP), "127.0.0.1");
    EXPECT_TRUE(server.WebServer().IsRunning()) << "a console that failed stopped the server";
    EXPECT_EQ(Get("/connect").status, 200);
    EXPECT_TRUE(server.Stop());
}

TEST_F(WebServerTest, APortTakenByAnotherSocketFailsWithCode3)
{
    vembatest::PortHolder holder; // a port the kernel picks, so surely free before
    ASSERT_GT(holder.Port(), 0);
    m_port = holder.Port();
    WriteGoodSettings();
    auto server = MakeServer();
    EXPECT_FALSE(server->WebServer().Start());
    EXPECT_EQ(server->WebServer().m_nLastError, kWebErrorNetwork);
}

TEST_F(WebServerTest, ManualMappingCorrectsADifferentExternalPortAndFailsOnce)
{
    WriteGoodSettings(m_port + 1);
    auto server = MakeServer();
    EXPECT_FALSE(server->WebServer().Start());
    EXPECT_EQ(server->WebServer().m_nLastError, kWebErrorNetwork);
    EXPECT_EQ(Settings().ReadText("ExtPort"), std::to_string(m_port));
    ASSERT_TRUE(server->WebServer().Start()); // the next start finds the two equal
    EXPECT_EQ(server->ExtPort(), static_cast<unsigned>(m_port));
    EXPECT_TRUE(server->WebServer().Stop());
}

TEST_F(WebServerTest, AutomaticMappingKeepsItsOwnExternalPort)
{
    WriteGoodSettings(51234);
    Settings().WriteInt("AutoPortMapMode", 1);
    auto server = MakeServer();
    ASSERT_TRUE(server->WebServer().Start()) << server->WebServer().m_nLastError;
    EXPECT_EQ(server->ExtPort(), 51234u);
    EXPECT_EQ(Settings().ReadText("ExtPort"), "51234");
    Set("ExtPort", "51235"); // refilled while it runs
    server->WebServer().ReloadExternalPort();
    EXPECT_EQ(server->ExtPort(), 51235u);
    EXPECT_TRUE(server->WebServer().Stop());
}

TEST_F(WebServerTest, TheDestructorStopsTheServer)
{
    WriteGoodSettings();
    {
        auto server = MakeServer();
        ASSERT_TRUE(server->WebServer().Start());
        ASSERT_TRUE(Get("/").connected);
    }
    EXPECT_FALSE(Get("/").connected);
}

TEST_F(WebServerTest, StaticFilesComeFromTheProgramsWebFolderNeverTheWorkingFolder)
{
    WriteGoodSettings();
    TempFolder working;
    WriteFileText(working / "secret.txt", "working folder");
    std::string previous = fs::current_path();
    fs::current_path(working.path());
    auto server = MakeServer(true);
    ASSERT_TRUE(server->WebServer().Start());
    EXPECT_EQ(Get("/secret.txt").status, 404);
    HttpReply index = Get("/index.html");
    EXPECT_EQ(index.status, 200);
    EXPECT_EQ(index.body, ReadFileText(GetProgramFolder() + "/res/web/index.html"));
    EXPECT_TRUE(server->WebServer().Stop());
    fs::current_path(previous);
}

TEST_F(WebServerTest, StartAndStopAreTraced)
{
    WriteFileText(m_traces / "Veneta.ini", "[DEBUG]\nPXTRACE=2\nPXTRACE_MASK=0x3FFFFF\n");
    ResetTraceStateForTesting();
    WriteGoodSettings();
    auto server = MakeServer();
    ASSERT_TRUE(server->WebServer().Start());
    EXPECT_FALSE(server->WebServer().Start());
    Get("/connect?id=42");
    EXPECT_TRUE(server->WebServer().Stop());
    std::string log;
    for (const auto& entry : fs::directory_iterator(m_traces.path()))
        if (entry.path().filename().string().starts_with("LogFile["))
            log += ReadFileText(entry.path());
    EXPECT_NE(log.find("<< Start webserver   (port:" + std::to_string(m_port) + ") >>"),
        std::string::npos)
        << log;
    EXPECT_NE(log.find(" - Start webserver complete (succeed)"), std::string::npos);
    EXPECT_NE(log.find(" - Already Running Mongoose server"), std::string::npos);
    EXPECT_NE(log.find("Noti : EchoRow: ('id=42')"), std::string::npos);
    EXPECT_NE(log.find(" - Noti complete: EchoRow: ('id=42')"), std::string::npos);
    EXPECT_NE(log.find("<< Stop webserver >>"), std::string::npos);
    ResetTraceStateForTesting();
}
