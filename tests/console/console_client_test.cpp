// The console client against the real standalone console over HTTP (and its SQLite
// file), and against servers that answer with hostile documents.

#include "config/settings.h"
#include "http/form_service.h"
#include "remote/console_answer.h"
#include "remote/external_ip.h"
#include "remote/pin_renewal.h"
#include "remote/pin_sync.h"
#include "remote/relay_server.h"
#include "server/platform/temp_folder.h"
#include "standalone_console.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

class ConsoleClientTest : public ::testing::Test {
protected:
    void Set(const std::string& key, const std::string& value)
    {
        SetSettingString("", kSettingSection, key, value);
    }
    TempFolder m_data;
    ScopedEnv m_dataEnv { "VEMBACAST_DATA_DIR", m_data.path() };
    ScopedEnv m_traceEnv { "VEMBACAST_TRACE_DIR", m_data.path() };
};

std::string StoredName(const std::string& database, const std::string& pin)
{
    sqlite3* db = nullptr;
    std::string name;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT name FROM pins WHERE pincode = ?1", -1, &statement, nullptr);
        sqlite3_bind_text(statement, 1, pin.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(statement) == SQLITE_ROW)
            name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return name;
}

TEST_F(ConsoleClientTest, RegistersLooksUpAndUpdatesThroughTheStandaloneConsole)
{
    StandaloneConsole console(m_data.path(), m_data.path() + "/pins.sqlite");
    ASSERT_GT(console.Port(), 0) << console.Process().Err();
    Set("TestSeverURL", console.Root());
    const std::string name = "Den & Co = 1+1 \xEC\x84\x9C\xEB\xB2\x84"; // with Hangul
    Set("PCName", name);
    Set("ExtPort", "47002");

    ASSERT_TRUE(RefreshExternalIp());
    EXPECT_EQ(GetSettingString("ExtIP"), "127.0.0.1");
    CRelayServer relay;
    ASSERT_TRUE(SyncPinCode(relay, "02:00:00:00:00:01"));
    std::string pin = GetSettingString("PINCode");
    ASSERT_EQ(pin.size(), 8u);
    EXPECT_EQ(StoredName(m_data.path() + "/pins.sqlite", pin), name);

    ServerInfo info;
    EXPECT_EQ(ParseServerInfoAnswer(relay.GetServerInfoFromPinCode(pin, PinLocale()), info), "");
    EXPECT_EQ(info.ip, "127.0.0.1");
    EXPECT_EQ(info.port, "47002");
    EXPECT_EQ(info.name, name);

    // With the same adapter the registration is updated under the same code.
    Set("MACA", "02:00:00:00:00:01");
    Set("ExtPort", "47005");
    ASSERT_TRUE(SyncPinCode(relay, "02:00:00:00:00:01"));
    EXPECT_EQ(GetSettingString("PINCode"), pin);
    EXPECT_EQ(ParseServerInfoAnswer(relay.GetServerInfoFromPinCode(pin, PinLocale()), info), "");
    EXPECT_EQ(info.port, "47005");

    // On another adapter the console refuses to move the code, so the server registers
    // anew and the new code replaces the old one.
    Set("MACA", "02:00:00:00:00:02");
    ASSERT_TRUE(SyncPinCode(relay, "02:00:00:00:00:02"));
    EXPECT_NE(GetSettingString("PINCode"), pin);
    EXPECT_EQ(ParseServerInfoAnswer(relay.GetServerInfoFromPinCode(pin, PinLocale()), info), "");
    EXPECT_EQ(info.port, "47005"); // the old code still names the old registration

    ReportPinMode(relay, false);
    EXPECT_NE(ParseServerInfoAnswer(
                  relay.GetServerInfoFromPinCode(GetSettingString("PINCode"), "EN"), info),
        "");
}

TEST_F(ConsoleClientTest, TheRenewalKeepsTheRegistrationCurrentUnderTheSameCode)
{
    StandaloneConsole console(m_data.path(), m_data.path() + "/pins.sqlite");
    ASSERT_GT(console.Port(), 0) << console.Process().Err();
    Set("TestSeverURL", console.Root());
    Set("PCName", "Den");
    Set("ExtPort", "47002");
    const std::string mac = "02:00:00:00:00:07";
    CRelayServer relay;
    ASSERT_TRUE(SyncPinCode(relay, mac));
    Set("MACA", mac);
    std::string pin = GetSettingString("PINCode");

    // The port moved meanwhile; the renewals carry it to the console.
    Set("ExtPort", "47020");
    std::mutex lock;
    std::condition_variable renewed;
    int renewals = 0;
    {
        CPinRenewal renewal(
            [&] {
                bool ok = SyncPinCode(mac);
                std::lock_guard guard(lock);
                renewals += ok ? 1 : 0;
                renewed.notify_all();
            },
            std::chrono::milliseconds(1));
        std::unique_lock wait(lock);
        ASSERT_TRUE(
            renewed.wait_for(wait, std::chrono::seconds(30), [&] { return renewals >= 2; }));
    }
    EXPECT_EQ(GetSettingString("PINCode"), pin);
    ServerInfo info;
    EXPECT_EQ(ParseServerInfoAnswer(relay.GetServerInfoFromPinCode(pin, PinLocale()), info), "");
    EXPECT_EQ(info.port, "47020");
}

TEST_F(ConsoleClientTest, GuessingPinCodesIsStoppedAndTheAnswerSaysSo)
{
    StandaloneConsole console(
        m_data.path(), m_data.path() + "/pins.sqlite", { "--max-failed-lookups", "2" });
    ASSERT_GT(console.Port(), 0) << console.Process().Err();
    Set("TestSeverURL", console.Root());
    CRelayServer relay;
    ServerInfo info;
    EXPECT_EQ(ParseServerInfoAnswer(relay.GetServerInfoFromPinCode("11111111", "EN"), info),
        "unknown PIN code");
    EXPECT_EQ(ParseServerInfoAnswer(relay.GetServerInfoFromPinCode("11111112", "EN"), info),
        "unknown PIN code");
    std::string refused
        = ParseServerInfoAnswer(relay.GetServerInfoFromPinCode("11111113", "EN"), info);
    EXPECT_NE(refused.find("too many"), std::string::npos) << refused;
}

TEST_F(ConsoleClientTest, UpdateCheckReportsTheConfiguredRelease)
{
    StandaloneConsole console(m_data.path(), m_data.path() + "/pins.sqlite",
        { "--latest-version", "1.2", "--download-url", "http://127.0.0.1/v.deb" });
    ASSERT_GT(console.Port(), 0) << console.Process().Err();
    Set("TestSeverURL", console.Root());
    CRelayServer relay;
    UpdateInfo update;
    EXPECT_EQ(ParseUpdateCheckAnswer(relay.CheckUpdate(UpdateLocale()), update), "");
    EXPECT_EQ(update.version, "1.2");
    EXPECT_EQ(update.url, "http://127.0.0.1/v.deb");
}

// A console that answers every request with the document the test gives it.
class HostileConsole : public ConsoleClientTest {
protected:
    void Serve(std::string document)
    {
        ASSERT_TRUE(m_service.Start("127.0.0.1", 0,
            [document](const FormRequest&) -> std::optional<std::string> { return document; }));
        Set("TestSeverURL", "http://127.0.0.1:" + std::to_string(m_service.Port()) + "/");
        Set("ExtIP", "10.1.1.1");
    }
    CFormService m_service;
};

const std::string kGoodIp
    = "<plist><dict><key>result</key><string>0</string><key>ip</key><string>10.2.2.2</string>";

TEST_F(HostileConsole, OversizedDeeplyNestedOrNonUtf8AnswersAreNoAnswer)
{
    std::string nested;
    for (int i = 0; i < 200000; ++i)
        nested += "<a>";
    // The transport refuses oversized and non-UTF-8 answers outright; a deeply nested
    // one arrives and its parse finds no address.
    const std::pair<std::string, bool> answers[] = {
        { kGoodIp + std::string(kMaxConsoleAnswerBytes, ' ') + "</dict></plist>", true },
        { "<plist>" + nested + kGoodIp, false },
        { "<plist><dict><key>result</key><string>0</string><key>ip</key><string>10.\xff\xfe"
          "2</string></dict></plist>",
            true },
    };
    for (const auto& [answer, refusedOnArrival] : answers) {
        Serve(answer);
        CRelayServer relay;
        if (refusedOnArrival) {
            EXPECT_EQ(relay.GetExternalIp(), "") << answer.size();
        }
        EXPECT_FALSE(RefreshExternalIp()) << answer.size();
        EXPECT_EQ(GetSettingString("ExtIP"), "10.1.1.1");
        m_service.Stop();
    }
}

TEST_F(ConsoleClientTest, AnAnswerCutShortIsNoAnswer)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    socklen_t length = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::thread server([listener] {
        int client = accept(listener, nullptr, nullptr);
        char request[4096];
        ssize_t got = recv(client, request, sizeof(request), 0);
        (void)got;
        std::string reply
            = "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n" + kGoodIp.substr(0, 70);
        ssize_t sent = send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
        (void)sent;
        close(client);
    });
    Set("TestSeverURL", "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/");
    Set("ExtIP", "10.1.1.1");
    EXPECT_FALSE(RefreshExternalIp());
    server.join();
    close(listener);
    EXPECT_EQ(GetSettingString("ExtIP"), "10.1.1.1");
}

} // namespace
