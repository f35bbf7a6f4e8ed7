#include "web_server_fixture.h"

#include <filesystem>

class DispatchTest : public WebServerTest {
protected:
    void SetUp() override
    {
        WriteGoodSettings();
        m_server = MakeServer();
        ASSERT_TRUE(m_server->WebServer().Start()) << m_server->WebServer().m_nLastError;
    }
    void TearDown() override { m_server->WebServer().Stop(); }

    std::string Row(const std::string& target) { return EchoedUri(Get(target)); }
    std::unique_ptr<HttpContext> m_server;
};

TEST_F(DispatchTest, ExactRowsMatchOnlyTheWholeUri)
{
    EXPECT_EQ(Row("/connect"), "/connect");
    EXPECT_EQ(Row("/convertList"), "/convertList");
    EXPECT_EQ(Row("/convert"), "/convert");
    EXPECT_EQ(Row("/convertListX"), "(static 404)");
    EXPECT_EQ(Row("/Connect"), "(static 404)");
    EXPECT_EQ(Row("/connect?id=1&x=2"), "/connect"); // the query is not part of the URI
}

TEST_F(DispatchTest, PrefixRowsNeedTheirWholePrefix)
{
    EXPECT_EQ(Row("/list/abc"), "/list/abc");
    EXPECT_EQ(Row("/list/ID/movie1.m3u8"), "/list/ID/movie1.m3u8");
    EXPECT_EQ(Row("/list"), "(static 404)");
}

TEST_F(DispatchTest, ARowWithoutAHandlerFallsThroughToStaticFiles)
{
    HttpReply reply = Get("/later");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "static later");
}

TEST_F(DispatchTest, HandlersSeeTheCleanedUri)
{
    EXPECT_EQ(Row("//connect"), "/connect");
    EXPECT_EQ(Row("/list//a///b"), "/list/a/b");
    EXPECT_EQ(Row("/list/a/./b"), "/list/a/b");
    EXPECT_EQ(Row("/list/a/../b"), "/list/b");
    EXPECT_EQ(Row("/list/a%20b"), "/list/a b");
    EXPECT_EQ(Row("/list/a+b"), "/list/a+b"); // a plus sign stays a plus sign in the path
    EXPECT_EQ(Row("/list/%ED%95%9C"), "/list/한");
}

TEST_F(DispatchTest, DotDotNeverLeavesItsFolder)
{
    // The dots are resolved before the table sees the URI: "/xml/../a.tmp" is "/a.tmp",
    // which no row serves and the static root does not hold.
    EXPECT_EQ(Row("/list/../connect"), "/connect");
    EXPECT_EQ(Get("/xml/../a.tmp").status, 404);
    EXPECT_EQ(Get("/../../../../etc/passwd").status, 404);
    EXPECT_EQ(Get("/list/%2e%2e/%2e%2e/etc/passwd").status, 404);
    EXPECT_EQ(Get("/list/..%2f..%2fetc/passwd").status, 404);
}

TEST_F(DispatchTest, QueryValuesAreFormDecodedAndNamesMatchIgnoringCase)
{
    EXPECT_NE(Get("/var?PATH=a%26b+c&x=1").body.find("path=[a&b c]"), std::string::npos);
    EXPECT_NE(Get("/var?xpath=1&path=2").body.find("path=[2]"), std::string::npos);
    EXPECT_NE(Get("/var?x=1&Path=%ED%95%9C").body.find("path=[한]"), std::string::npos);
    EXPECT_NE(Get("/var?path=").body.find("path=[]"), std::string::npos);
    EXPECT_NE(Get("/var").body.find("path=[]"), std::string::npos);
    // A decoded NUL ends the value.
    EXPECT_NE(Get("/var?path=a.mp4%00/../../x").body.find("path=[a.mp4]"), std::string::npos);
}

TEST_F(DispatchTest, CopyRequestVarCopiesOnlyWhatFits)
{
    EXPECT_NE(Get("/var?short=abcdefg").body.find("copy=1[abcdefg]"), std::string::npos);
    EXPECT_NE(Get("/var?short=abcdefgh").body.find("copy=0[untouch]"), std::string::npos);
    EXPECT_NE(Get("/var").body.find("copy=0[untouch]"), std::string::npos);
}

TEST_F(DispatchTest, TheHostIsTheHostHeaderWithoutItsPort)
{
    auto hostOf = [&](const std::string& header) {
        HttpReply reply = SendRawRequest(
            m_port, "GET /var HTTP/1.1\r\n" + header + "Connection: close\r\n\r\n");
        size_t start = reply.body.find("host=[") + 6;
        return reply.body.substr(start, reply.body.find("] copy=", start) - start);
    };
    EXPECT_EQ(hostOf("Host: 10.9.8.7:47002\r\n"), "10.9.8.7");
    EXPECT_EQ(hostOf("hOsT: 10.0.0.5\r\n"), "10.0.0.5");
    EXPECT_EQ(hostOf("Host: [::1]:47002\r\n"), "[::1]");
    EXPECT_EQ(hostOf(""), "");
}

TEST_F(DispatchTest, AnswersAreNeverCut)
{
    HttpReply reply = Get("/big");
    EXPECT_EQ(reply.body.size(), 20000u);
    EXPECT_EQ(reply.body.back(), 'y');
}

TEST_F(DispatchTest, PlistAnswersCarryStatus200AndTextXml)
{
    HttpReply reply = Get("/connect");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.Header("content-type"), "text/xml");
    EXPECT_TRUE(reply.body.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>")) << reply.body;
}

TEST_F(DispatchTest, StaticFoldersAre403AndMissingFiles404)
{
    EXPECT_EQ(Get("/sub/").status, 403);
    EXPECT_EQ(Get("/missing.html").status, 404);
    EXPECT_EQ(Get("/").body, "<html>root</html>");
}

TEST_F(DispatchTest, AFailingHandlerAnswers500AndTheServerGoesOn)
{
    EXPECT_EQ(Get("/throw").status, 500);
    EXPECT_EQ(Row("/connect"), "/connect");
}

TEST_F(DispatchTest, BadRequestsGetTheLibrarysAnswerAndNeverReachATable)
{
    HttpReply garbage = SendRawRequest(m_port, "GARBAGE\r\n\r\n");
    EXPECT_GE(garbage.status, 400);
    EXPECT_LT(garbage.status, 500);
    std::string huge
        = "GET /connect HTTP/1.1\r\nHost: x\r\nX-Fill: " + std::string(20000, 'a') + "\r\n\r\n";
    HttpReply tooLarge = SendRawRequest(m_port, huge);
    EXPECT_TRUE(tooLarge.status == 400 || tooLarge.status == 413) << tooLarge.status;
    EXPECT_EQ(tooLarge.body.find("<plist"), std::string::npos);
    EXPECT_EQ(Row("/connect"), "/connect"); // and the server still serves
}
