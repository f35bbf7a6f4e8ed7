// The console logic without HTTP: its pages, the PIN registry in SQLite and the limit
// of failed look-ups, driven through a clock of the test's own.

#include "console/console_options.h"
#include "console/console_service.h"
#include "console/sqlite_pin_registry.h"
#include "remote/console_answer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

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

    std::string Register(const std::string& mac = "02:00:00:00:00:01")
    {
        std::string pin;
        EXPECT_EQ(
            ParseRegistrationAnswer(Ask("registerPINCode.php",
                                        { { "mac", mac }, { "name", "Den" }, { "port", "47002" } }),
                pin),
            "");
        return pin;
    }

    std::chrono::steady_clock::time_point m_now {};
    vembatest::TempFolder m_folder { "vemba-console" };
    CSqlitePinRegistry m_registry;
    CLookupLimiter m_limiter { 3, std::chrono::seconds(600), [this] { return m_now; } };
    CConsoleService m_console { [](const ConsoleRequest& r) { return r.requester; }, &m_registry,
        &m_limiter, ConsoleRelease { "1.2.0.0", "7", "http://example.invalid/get" } };
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
             { { "mac", "02:00:00:00:00:01" }, { "name", std::string(256, 'x') },
                 { "port", "1" } } }) {
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
    std::optional<PinRecord> record = reopened.Find(pin);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->hardwareAddress, "02:00:00:00:00:01");
    EXPECT_EQ(record->port, "47002");
    EXPECT_FALSE(reopened.Find("'; DROP TABLE pins; --"));
    EXPECT_TRUE(reopened.Find(pin));
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
