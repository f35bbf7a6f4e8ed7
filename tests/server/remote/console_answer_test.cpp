#include "http/answer.h"
#include "remote/console_answer.h"

#include <gtest/gtest.h>

namespace {

std::string Answer(const std::string& body)
{
    return PlistDocument(body);
}

} // namespace

TEST(ConsoleAnswer, ASuccessfulAnswerGivesTheAddress)
{
    std::string ip;
    std::string answer = Answer(PlistAnswer(0).Add("ip", "203.0.113.7").Body());
    EXPECT_EQ(ParseExternalIpAnswer(answer, ip), "");
    EXPECT_EQ(ip, "203.0.113.7");
}

TEST(ConsoleAnswer, AFailedAnswerGivesItsMessage)
{
    std::string ip = "unchanged";
    EXPECT_EQ(ParseExternalIpAnswer(Answer(PlistAnswer(-5, "no such admin").Body()), ip),
        "no such admin");
    EXPECT_EQ(ip, "unchanged");
}

TEST(ConsoleAnswer, AMessageBeforeTheResultIsNotAnError)
{
    std::string ip;
    std::string body
        = "<key>message</key><string>late</string><key>result</key><string>-1</string>";
    EXPECT_EQ(ParseExternalIpAnswer(Answer(body), ip), "");
}

TEST(ConsoleAnswer, AKeyWithoutAValueIsIgnored)
{
    std::string ip = "before";
    EXPECT_EQ(
        ParseExternalIpAnswer(Answer("<key>result</key><string>0</string><key>ip</key>"), ip), "");
    EXPECT_EQ(ip, "before");
}

TEST(ConsoleAnswer, AnswersWithoutADictAreEmpty)
{
    std::string ip;
    EXPECT_EQ(ParseExternalIpAnswer("", ip), "");
    EXPECT_EQ(ParseExternalIpAnswer("ERR", ip), "");
    EXPECT_EQ(ParseExternalIpAnswer("<html><body>proxy error</body></html>", ip), "");
    EXPECT_EQ(ip, "");
}

TEST(ConsoleAnswer, TheFirstDictCountsAndDamageAfterItIsTolerated)
{
    std::string ip;
    std::string answer
        = "<plist><dict><key>result</key><string>0</string><key>ip</key><string>10.1.1.1</string>"
          "</dict><dict><key>ip</key><string>10.2.2.2</string></dict><broken";
    EXPECT_EQ(ParseExternalIpAnswer(answer, ip), "");
    EXPECT_EQ(ip, "10.1.1.1");
}

TEST(ConsoleAnswer, ThePinUpdateWalkStopsAtTheMessage)
{
    std::string body = "<key>result</key><string>1</string><key>message</key><string>first</string>"
                       "<key>message</key><string>second</string>";
    EXPECT_EQ(ParseConsoleAnswer(Answer(body), {}, true), "first");
    EXPECT_EQ(ParseConsoleAnswer(Answer(body), {}, false), "second");
}

TEST(ConsoleAnswer, EscapedTextsComeBackAsTheyWereMeant)
{
    std::string message = ParseConsoleAnswer(Answer(PlistAnswer(-1, "a & b <c>").Body()), {});
    EXPECT_EQ(message, "a & b <c>");
}
