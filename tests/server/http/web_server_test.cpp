#include "config/trace.h"
#include "platform/places.h"
#include "streaming/work_folders.h"
#include "web_server_fixture.h"

#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

TEST_F(WebServerTest, StartServesAndStopEndsIt)
{
    WriteGoodSettings();
    auto server = MakeServer();
    ASSERT_TRUE(server->Start()) << server->m_nLastError;
    EXPECT_TRUE(IsWebServerRunning());
    EXPECT_EQ(GetListeningPort(), m_port);
    EXPECT_EQ(server->m_nPort, m_port);
    EXPECT_EQ(server->m_strInIP, "127.0.0.1");
    EXPECT_EQ(Get("/index.html").body, "<html>root</html>");

    EXPECT_TRUE(server->Stop());
    EXPECT_FALSE(IsWebServerRunning());
    EXPECT_EQ(server->m_nPort, 0);
    EXPECT_FALSE(Get("/index.html").connected);
}

TEST_F(WebServerTest, StartingTwiceFailsWithCode4AndTheFirstKeepsRunning)
{
    WriteGoodSettings();
    auto server = MakeServer();
    ASSERT_TRUE(server->Start());
    auto second = MakeServer();
    EXPECT_FALSE(second->Start());
    EXPECT_EQ(second->m_nLastError, kWebErrorAlreadyRunning);
    EXPECT_EQ(second->m_nPort, m_port); // the checks ran and reloaded the fields
    EXPECT_EQ(Get("/connect").status, 200);
    EXPECT_TRUE(server->Stop());
}

TEST_F(WebServerTest, StoppingAStoppedServerFailsWithCode6AndStillCleansUp)
{
    std::string services = GetServicesFolder();
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
    RememberWorkFolder(services + "/ABCDEF0123");
    RememberWorkFolder(services + "/ABCDEF0123"); // the same folder, once
    // Another folder on this file system, though it differs only in case.
    fs::create_directories(services + "/abcdef0123");
    WriteFileText(services + "/abcdef0123/vemba-1-1.ts", "segment");
    RememberWorkFolder(services + "/abcdef0123");
    RememberWorkFolder(outside.path());
    EXPECT_EQ(RememberedWorkFolders().size(), 3u);

    auto server = MakeServer();
    EXPECT_FALSE(server->Stop());
    EXPECT_EQ(server->m_nLastError, kWebErrorNotRunning);
    EXPECT_FALSE(fs::exists(services + "/ABCDEF0123"));
    EXPECT_FALSE(fs::exists(killed));
    EXPECT_TRUE(fs::exists(services + "/Movies/clip.mp4_s.jpg"));
    EXPECT_FALSE(fs::exists(services + "/" + listA));
    EXPECT_FALSE(fs::exists(services + "/" + list0));
    EXPECT_TRUE(fs::exists(services + "/keep.tmp"));
    EXPECT_TRUE(fs::exists(services + "/filXYZ.tmp"));
    EXPECT_TRUE(fs::exists(services + "/fil1A.tmp"));
    EXPECT_TRUE(fs::exists(outside / "a.ts")) << "a folder outside the services folder was touched";
    EXPECT_TRUE(RememberedWorkFolders().empty());
}

TEST_F(WebServerTest, StartSweepsTheSessionFoldersAndListFilesOfAKilledRun)
{
    WriteGoodSettings();
    const std::string services = GetServicesFolder();
    const std::string killed = services + "/FEDCBA9876543210FEDCBA9876543210";
    fs::create_directories(killed);
    WriteFileText(killed + "/vemba-2-9.ts", "ts");
    const std::string list = services + "/fil" + std::string(32, 'C') + ".tmp";
    WriteFileText(list, "list");
    fs::create_directories(services + "/Movies");
    WriteFileText(services + "/Movies/clip.mp4_s.jpg", "jpeg");
    auto server = MakeServer();
    ASSERT_TRUE(server->Start());
    EXPECT_FALSE(fs::exists(killed));
    EXPECT_FALSE(fs::exists(list));
    EXPECT_TRUE(fs::exists(services + "/Movies/clip.mp4_s.jpg"));
    EXPECT_TRUE(server->Stop());
}

TEST_F(WebServerTest, ASuccessfulStartForgetsOldWorkFolders)
{
    WriteGoodSettings();
    std::string folder = GetServicesFolder() + "/OLDCLIENT";
    fs::create_directories(folder);
    RememberWorkFolder(folder);
    auto server = MakeServer();
    ASSERT_TRUE(server->Start());
    EXPECT_TRUE(RememberedWorkFolders().empty());
    EXPECT_TRUE(server->Stop());
    EXPECT_TRUE(fs::exists(folder)); // forgotten, so the stop leaves it
}

TEST_F(WebServerTest, IncompleteSettingsFailWithCode1)
{
    auto server = MakeServer();
    EXPECT_FALSE(server->Start()); // no settings file at all
    EXPECT_EQ(server->m_nLastError, kWebErrorSettings);

    WriteGoodSettings();
    Set("MACA", "");
    EXPECT_FALSE(server->Start());
    EXPECT_EQ(server->m_nLastError, kWebErrorSettings);

    WriteGoodSettings();
    SetSettingInt("PasswordMode", 1);
    EXPECT_FALSE(server->Start());
    EXPECT_EQ(server->m_nLastError, kWebErrorSettings);
    Set("Password", "1234");

    SetSettingInt("PINCodeMode", 1);
    Set("PINCode", "");
    EXPECT_FALSE(server->Start());
    EXPECT_EQ(server->m_nLastError, kWebErrorSettings);
    Set("PINCode", "777777");
    ASSERT_TRUE(server->Start());
    EXPECT_TRUE(server->Stop());

    SetSettingInt("SET", 0);
    EXPECT_FALSE(server->Start());
    EXPECT_EQ(server->m_nLastError, kWebErrorSettings);
    EXPECT_FALSE(IsWebServerRunning());
}

TEST_F(WebServerTest, NoExternalAddressFailsWithCode3)
{
    WriteGoodSettings();
    auto server = MakeServer(false);
    EXPECT_FALSE(server->Start());
    EXPECT_EQ(server->m_nLastError, kWebErrorNetwork);
    EXPECT_FALSE(IsWebServerRunning());
}

TEST_F(WebServerTest, APortTakenByAnotherSocketFailsWithCode3)
{
    WriteGoodSettings();
    int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(m_port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    auto server = MakeServer();
    EXPECT_FALSE(server->Start());
    EXPECT_EQ(server->m_nLastError, kWebErrorNetwork);
    close(holder);
}

TEST_F(WebServerTest, ManualMappingCorrectsADifferentExternalPortAndFailsOnce)
{
    WriteGoodSettings(m_port + 1);
    auto server = MakeServer();
    EXPECT_FALSE(server->Start());
    EXPECT_EQ(server->m_nLastError, kWebErrorNetwork);
    EXPECT_EQ(GetSettingString("ExtPort"), std::to_string(m_port));
    ASSERT_TRUE(server->Start()); // the next start finds the two equal
    EXPECT_EQ(g_nExtPort, m_port);
    EXPECT_TRUE(server->Stop());
}

TEST_F(WebServerTest, AutomaticMappingKeepsItsOwnExternalPort)
{
    WriteGoodSettings(51234);
    SetSettingInt("AutoPortMapMode", 1);
    auto server = MakeServer();
    ASSERT_TRUE(server->Start()) << server->m_nLastError;
    EXPECT_EQ(g_nExtPort, 51234);
    EXPECT_EQ(GetSettingString("ExtPort"), "51234");
    EXPECT_TRUE(server->Stop());
}

TEST_F(WebServerTest, TheDestructorStopsTheServer)
{
    WriteGoodSettings();
    {
        auto server = MakeServer();
        ASSERT_TRUE(server->Start());
    }
    EXPECT_FALSE(IsWebServerRunning());
    EXPECT_FALSE(Get("/").connected);
}

TEST_F(WebServerTest, StaticFilesComeFromTheProgramsWebFolderNeverTheWorkingFolder)
{
    WriteGoodSettings();
    TempFolder working;
    WriteFileText(working / "secret.txt", "working folder");
    std::string previous = fs::current_path();
    fs::current_path(working.path());
    auto server = MakeServer(true, true);
    ASSERT_TRUE(server->Start());
    EXPECT_EQ(Get("/secret.txt").status, 404);
    HttpReply index = Get("/index.html");
    EXPECT_EQ(index.status, 200);
    EXPECT_EQ(index.body, ReadFileText(GetProgramFolder() + "/res/web/index.html"));
    EXPECT_TRUE(server->Stop());
    fs::current_path(previous);
}

TEST_F(WebServerTest, StartAndStopAreTraced)
{
    WriteFileText(m_traces / "Veneta.ini", "[DEBUG]\nPXTRACE=2\nPXTRACE_MASK=0x3FFFFF\n");
    ResetTraceStateForTesting();
    WriteGoodSettings();
    auto server = MakeServer();
    ASSERT_TRUE(server->Start());
    auto second = MakeServer(); // kept: a server object's destructor stops the server
    EXPECT_FALSE(second->Start());
    Get("/connect?id=42");
    EXPECT_TRUE(server->Stop());
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
