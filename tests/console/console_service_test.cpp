// The console logic without HTTP: its pages, the PIN registry in SQLite (its layouts,
// expiry and bound per server) and the limits per address, driven through clocks of
// the test's own.

#include "console/console_options.h"
#include "console/console_service.h"
#include "console/lookup_limiter.h"
#include "console/sqlite_pin_registry.h"
#include "remote/console_answer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

using namespace std::chrono_literals;

class ConsoleServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_registry.Open(m_folder.Path() + "/pins.sqlite", error)) << error;
    }

    std::string Ask(const std::string& page, std::map<std::string, std::string> fields,
        const std::string& requester = "198.51.100.7")
    {
        return m_console.Answer(ConsoleRequest { page, std::move(fields), requester }).value_or("");
    }

    std::string Register(
        const std::string& mac = "02:00:00:00:00:01", const std::string& requester = "198.51.100.7")
    {
        std::string pin;
        EXPECT_EQ(ParseRegistrationAnswer(
                      Ask("registerPINCode.php",
                          { { "mac", mac }, { "name", "Den" }, { "port", "47002" } }, requester),
                      pin),
            "");
        return pin;
    }

    std::string LookUp(const std::string& pin, const std::string& requester = "198.51.100.7")
    {
        ServerInfo info;
        return ParseServerInfoAnswer(
            Ask("getServerInfoFromPINCode.php", { { "pincode", pin } }, requester), info);
    }

    std::chrono::steady_clock::time_point m_now {};
    std::chrono::system_clock::time_point m_wallNow { std::chrono::system_clock::now() };
    vembatest::TempFolder m_folder { "vemba-console" };
    CSqlitePinRegistry m_registry { RegistryPolicy { std::chrono::hours(24 * 30), 2 },
        [this] { return m_wallNow; } };
    CLookupLimiter m_limiter { 3, std::chrono::seconds(600), [this] { return m_now; } };
    CLookupLimiter m_registrations { 5, std::chrono::seconds(3600), [this] { return m_now; } };
    CConsoleService m_console { [](const ConsoleRequest& r) { return r.requester; }, &m_registry,
        &m_limiter, ConsoleRelease { "1.2.0.0", "7", "http://example.invalid/get" },
        &m_registrations };
};

TEST(ConsoleForm, DecodesFieldsAsFormsAreEncoded)
{
    auto fields = ParseFormFields("name=A%26B+%3D+C&port=47002&bad=%zz%4&name=second&flag");
    EXPECT_EQ(fields["name"], "A&B = C");
    EXPECT_EQ(fields["port"], "47002");
    EXPECT_EQ(fields["bad"], "%zz%4");
    EXPECT_EQ(fields.count("flag"), 1u);
    EXPECT_EQ(PageOfPath("/pin/registerPINCode.php"), "registerPINCode.php");
}

TEST_F(ConsoleServiceTest, ARegisteredServerIsFoundByItsPinWithoutItsHardwareAddress)
{
    std::string pin = Register();
    ASSERT_EQ(pin.size(), 8u);
    std::string answer = Ask("getServerInfoFromPINCode.php", { { "pincode", pin } }, "203.0.113.9");
    ServerInfo info;
    EXPECT_EQ(ParseServerInfoAnswer(answer, info), "");
    EXPECT_EQ(info.ip, "198.51.100.7"); // where the server registered from
    EXPECT_EQ(info.port, "47002");
    EXPECT_EQ(info.name, "Den");
    EXPECT_EQ(answer.find("02:00:00:00:00:01"), std::string::npos) << answer;
    EXPECT_NE(Register(), pin);
}

TEST_F(ConsoleServiceTest, MalformedRegistrationsAreRefused)
{
    for (auto fields : std::vector<std::map<std::string, std::string>> {
             { { "mac", "02:00:00:00:00" }, { "name", "Den" }, { "port", "1" } },
             { { "mac", "02:00:00:00:00:01" }, { "name", "" }, { "port", "1" } },
             { { "mac", "02:00:00:00:00:01" }, { "name", "a\nb" }, { "port", "1" } },
             { { "mac", "02:00:00:00:00:01" }, { "name", "Den" }, { "port", "65536" } },
             { { "mac", "02:00:00:00:00:01" }, { "name", std::string(256, 'x') }, { "port", "1" } },
             // Not UTF-8: a lone continuation byte, an overlong '/', a cut sequence.
             { { "mac", "02:00:00:00:00:01" }, { "name", "Den \x80" }, { "port", "1" } },
             { { "mac", "02:00:00:00:00:01" }, { "name", "\xC0\xAF" }, { "port", "1" } },
             { { "mac", "02:00:00:00:00:01" }, { "name", "Den \xEC\x84" }, { "port", "1" } } }) {
        std::string pin;
        EXPECT_NE(ParseRegistrationAnswer(Ask("registerPINCode.php", fields), pin), "");
        EXPECT_EQ(pin, "");
    }
}

TEST_F(ConsoleServiceTest, OnlyTheRegisteringServerMovesItsPinAndModeOffHidesIt)
{
    std::string pin = Register();
    std::map<std::string, std::string> update { { "pincode", pin }, { "port", "47010" },
        { "name", "Den 2" }, { "mac", "02:00:00:00:00:99" }, { "modeon", "1" } };
    EXPECT_NE(ParsePinUpdateAnswer(Ask("updatePINCode.php", update)), "");
    update["mac"] = "02:00:00:00:00:01";
    EXPECT_EQ(ParsePinUpdateAnswer(Ask("updatePINCode.php", update, "198.51.100.8")), "");
    ServerInfo info;
    EXPECT_EQ(
        ParseServerInfoAnswer(Ask("getServerInfoFromPINCode.php", { { "pincode", pin } }), info),
        "");
    EXPECT_EQ(info.port, "47010");
    EXPECT_EQ(info.ip, "198.51.100.8");
    EXPECT_EQ(info.name, "Den 2");

    update["modeon"] = "0";
    EXPECT_EQ(ParsePinUpdateAnswer(Ask("updatePINCode.php", update)), "");
    EXPECT_NE(
        ParseServerInfoAnswer(Ask("getServerInfoFromPINCode.php", { { "pincode", pin } }), info),
        "");
}

TEST_F(ConsoleServiceTest, FailedLookUpsAreLimitedPerAddressForTheWindow)
{
    std::string pin = Register();
    ServerInfo info;
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(ParseServerInfoAnswer(Ask("getServerInfoFromPINCode.php",
                                            { { "pincode", "0000000" + std::to_string(i) } }),
                      info),
            "");
    // Now even the right code is refused for this address, and the answer says why.
    std::string refused
        = ParseServerInfoAnswer(Ask("getServerInfoFromPINCode.php", { { "pincode", pin } }), info);
    EXPECT_NE(refused.find("too many"), std::string::npos) << refused;
    EXPECT_EQ(info.ip, "");
    // Another address is not affected.
    EXPECT_EQ(ParseServerInfoAnswer(
                  Ask("getServerInfoFromPINCode.php", { { "pincode", pin } }, "192.0.2.1"), info),
        "");
    m_now += 601s;
    info = {};
    EXPECT_EQ(
        ParseServerInfoAnswer(Ask("getServerInfoFromPINCode.php", { { "pincode", pin } }), info),
        "");
    EXPECT_EQ(info.port, "47002");
}

TEST_F(ConsoleServiceTest, AnswersTheRequesterAndTheConfiguredRelease)
{
    std::string ip;
    EXPECT_EQ(ParseExternalIpAnswer(Ask("getExternalIP.php", {}), ip), "");
    EXPECT_EQ(ip, "198.51.100.7");
    UpdateInfo release;
    EXPECT_EQ(ParseUpdateCheckAnswer(Ask("updatecheck.php", { { "product", "0" } }), release), "");
    EXPECT_EQ(release.version, "1.2.0.0");
    EXPECT_EQ(release.url, "http://example.invalid/get");
    EXPECT_FALSE(m_console.Answer(ConsoleRequest { "other.php", {}, "" }));
}

TEST_F(ConsoleServiceTest, RegistrationsOutliveTheRegistryFile)
{
    std::string pin = Register();
    CSqlitePinRegistry reopened;
    std::string error;
    ASSERT_TRUE(reopened.Open(m_folder.Path() + "/pins.sqlite", error)) << error;
    PinRecord record;
    ASSERT_EQ(reopened.Lookup(pin, record), RegistryOutcome::Done);
    EXPECT_EQ(record.hardwareAddress, "02:00:00:00:00:01");
    EXPECT_EQ(record.port, "47002");
    EXPECT_EQ(reopened.Lookup("'; DROP TABLE pins; --", record), RegistryOutcome::NotFound);
    EXPECT_EQ(reopened.Lookup(pin, record), RegistryOutcome::Done);
}

TEST_F(ConsoleServiceTest, CodesNotRenewedForTheirLifetimeAreGoneAndRenewalKeepsThem)
{
    std::string kept = Register("02:00:00:00:00:01");
    std::string lapsed = Register("02:00:00:00:00:02");
    m_wallNow += std::chrono::hours(24 * 29);
    std::map<std::string, std::string> renew { { "pincode", kept }, { "port", "47002" },
        { "name", "Den" }, { "mac", "02:00:00:00:00:01" }, { "modeon", "1" } };
    EXPECT_EQ(ParsePinUpdateAnswer(Ask("updatePINCode.php", renew)), "");
    m_wallNow += std::chrono::hours(24 * 2);
    // Past its lifetime a code is unknown at once, and the upkeep drops its row.
    EXPECT_EQ(LookUp(kept), "");
    EXPECT_EQ(LookUp(lapsed), "unknown PIN code");
    renew["pincode"] = lapsed;
    renew["mac"] = "02:00:00:00:00:02";
    EXPECT_EQ(ParsePinUpdateAnswer(Ask("updatePINCode.php", renew)), "unknown PIN code");
    EXPECT_EQ(m_registry.RemoveExpired(), 1);
    EXPECT_EQ(m_registry.RemoveExpired(), 0);
    EXPECT_EQ(LookUp(kept), "");
}

TEST_F(ConsoleServiceTest, OneServerHoldsABoundedNumberOfCodesAndOneAddressRegistersABoundedNumber)
{
    // The registry keeps two codes per hardware address: a third replaces the oldest.
    std::string first = Register("02:00:00:00:00:01");
    std::string second = Register("02:00:00:00:00:01");
    std::string third = Register("02:00:00:00:00:01");
    EXPECT_EQ(LookUp(first), "unknown PIN code");
    EXPECT_EQ(LookUp(second), "");
    EXPECT_EQ(LookUp(third), "");
    // Five registrations an hour from one address; other servers' addresses are free.
    Register("02:00:00:00:00:02");
    Register("02:00:00:00:00:03");
    std::string refused;
    EXPECT_NE(ParseRegistrationAnswer(
                  Ask("registerPINCode.php",
                      { { "mac", "02:00:00:00:00:04" }, { "name", "Den" }, { "port", "47002" } }),
                  refused),
        "");
    EXPECT_EQ(refused, "");
    EXPECT_EQ(Register("02:00:00:00:00:04", "192.0.2.1").size(), 8u);
    m_now += std::chrono::seconds(3601);
    EXPECT_EQ(Register("02:00:00:00:00:04").size(), 8u);
}

TEST_F(ConsoleServiceTest, CodesThatAreNotDigitsAreUnknownAndCountAsFailures)
{
    std::string pin = Register();
    for (std::string guess : { std::string("\xff\xfe"), std::string(17, '1'), pin + " " }) {
        EXPECT_EQ(LookUp(guess), "unknown PIN code") << guess;
    }
    EXPECT_NE(LookUp(pin).find("too many"), std::string::npos);
}

// A file of the first layout, without version or times, as consoles wrote it before.
TEST(ConsoleRegistryLayout, AFileOfTheFirstLayoutKeepsItsCodesAndGainsTheirTimes)
{
    vembatest::TempFolder folder { "vemba-console" };
    std::string path = folder.Path() + "/pins.sqlite";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                  "CREATE TABLE pins (pincode TEXT PRIMARY KEY, mac TEXT NOT NULL, name TEXT "
                  "NOT NULL, address TEXT NOT NULL, port TEXT NOT NULL, modeon INTEGER NOT "
                  "NULL);INSERT INTO pins VALUES ('12345678', '02:00:00:00:00:01', 'Old', "
                  "'198.51.100.7', '47002', 1)",
                  nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);

    auto now = std::chrono::system_clock::now();
    CSqlitePinRegistry registry { RegistryPolicy { std::chrono::hours(24 * 30), 4 },
        [&now] { return now; } };
    std::string error;
    ASSERT_TRUE(registry.Open(path, error)) << error;
    PinRecord record;
    ASSERT_EQ(registry.Lookup("12345678", record), RegistryOutcome::Done);
    EXPECT_EQ(record.name, "Old");
    // It counts as registered when the file was brought up to date.
    now += std::chrono::hours(24 * 31);
    EXPECT_EQ(registry.Lookup("12345678", record), RegistryOutcome::NotFound);

    // A file from a newer console is left alone.
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    CSqlitePinRegistry newer;
    EXPECT_FALSE(newer.Open(path, error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
}

TEST(ConsoleRequester, ForwardedAddressIsBelievedOnlyFromATrustedProxy)
{
    std::set<std::string> trusted { "10.0.0.5" };
    EXPECT_EQ(RequesterAddress("10.0.0.5", "1.1.1.1, 198.51.100.4", trusted), "198.51.100.4");
    EXPECT_EQ(RequesterAddress("10.0.0.6", "198.51.100.4", trusted), "10.0.0.6");
    EXPECT_EQ(RequesterAddress("10.0.0.5", "198.51.100.4, not-an-address", trusted), "10.0.0.5");
    EXPECT_EQ(RequesterAddress("10.0.0.5", "", trusted), "10.0.0.5");
    EXPECT_EQ(RequesterAddress("10.0.0.5", " 2001:db8::1 ", trusted), "2001:db8::1");
}

} // namespace
