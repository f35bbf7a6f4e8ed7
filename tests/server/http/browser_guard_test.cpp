// What a browser may make the server do from elsewhere, over real HTTP: requests that
// change state sent by another site, names the server does not answer to, HEAD on
// handlers with side effects, and the headers of a reverse proxy, believed only from
// one the owner trusts.

#include "config/settings.h"
#include "server/http/session_http_fixture.h"

#include <fstream>

namespace {

class BrowserGuardTest : public SessionHttpTest {
protected:
    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    // A GET whose Host header is exactly host.
    HttpReply GetAs(const std::string& host, const std::string& target = "/connect") const
    {
        return SendRawRequest(m_port,
            "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n");
    }
};

TEST_F(BrowserGuardTest, StateChangingRequestsThatABrowserSaysComeFromElsewhereAreRefused)
{
    SetSetting(kKeyAllowServerOff, "0"); // a request that passes gets -18, never a power-off
    StartServer();
    const std::string elsewhere[] = {
        "Sec-Fetch-Site: cross-site\r\n",
        "Sec-Fetch-Site: same-site\r\n",
        "Origin: http://127.0.0.1:1\r\n",
        "Origin: null\r\n",
        "Referer: http://evil.example/page.html\r\n",
        "Sec-Fetch-Site: same-origin\r\nReferer: http://127.0.0.1:9/\r\n",
    };
    for (const std::string target : { "/serverOff", "/convert?path=/Movies/a.mkv", "/playEnd",
             "/convertCancel?convertid=1", "/convertDeleteCompleteList" }) {
        for (const std::string& headers : elsewhere) {
            HttpReply reply = Get(target, headers);
            EXPECT_EQ(reply.status, 403) << target << " " << headers;
            EXPECT_EQ(reply.Header("content-type"), "text/plain; charset=utf-8");
            EXPECT_NE(reply.body.find("another site"), std::string::npos);
        }
    }
    EXPECT_TRUE(Server().ConvertQueue().Jobs().empty());
    // The phone (no such headers) and the server's own pages pass.
    const std::string own[] = { std::string(),
        "Sec-Fetch-Site: same-origin\r\nReferer: " + Origin() + "/index.html\r\nOrigin: " + Origin()
            + "\r\n",
        "Sec-Fetch-Site: none\r\n" };
    for (const std::string& headers : own) {
        HttpReply reply = Get("/serverOff", headers);
        EXPECT_EQ(reply.status, 200) << headers;
        EXPECT_EQ(PlistValue(reply.body, "result"), "-18") << headers;
    }
    // Reading is no danger: a listing asked for by another site's page is answered.
    EXPECT_EQ(Get("/convertList", "Sec-Fetch-Site: cross-site\r\n").status, 200);
}

TEST_F(BrowserGuardTest, OnlyAddressesLocalhostTheMachinesNamesAndAllowedNamesAreServed)
{
    StartServer();
    const std::string port = ":" + std::to_string(m_port);
    for (const std::string target : { "/connect", "/", "/xml/fil0123.tmp", "/app.css" }) {
        HttpReply reply = GetAs("evil.example" + port, target);
        EXPECT_EQ(reply.status, 421) << target;
        EXPECT_NE(reply.body.find("AllowedHosts"), std::string::npos);
        EXPECT_NE(reply.body.find("evil.example"), std::string::npos);
    }
    const std::string served[]
        = { "127.0.0.1" + port, "localhost" + port, "LOCALHOST.", "[::1]" + port, "10.1.2.3" };
    for (const std::string& host : served)
        EXPECT_EQ(GetAs(host).status, 200) << host;
    EXPECT_EQ(GetAs("bad name").status, 400);
    EXPECT_EQ(GetAs("a.example:http").status, 400);

    SetSetting("AllowedHosts", "media.example, Other.Example");
    EXPECT_EQ(GetAs("MEDIA.example" + port).status, 200);
    EXPECT_EQ(GetAs("other.example").status, 200);
    EXPECT_EQ(GetAs("evil.example").status, 421);
    // A request without a Host header (HTTP/1.0) is served as it always was.
    HttpReply old = SendRawRequest(m_port, "GET /connect HTTP/1.0\r\n\r\n");
    EXPECT_EQ(old.status, 200);
    EXPECT_EQ(PlistValue(old.body, "result"), "0");
}

TEST_F(BrowserGuardTest, HeadRunsOnlyHandlersThatMerelyRead)
{
    StartServer();
    std::ofstream(m_media.path() + "/a.bin") << "0123456789";
    const size_t sessions = Server().Sessions().GetClientInfoList().size();
    for (const std::string target : { "/serverOff", "/connect", "/convert?path=/Movies/a.bin",
             "/getList?path=/", "/playEnd" }) {
        HttpReply reply = Get(target, "", "HEAD");
        EXPECT_EQ(reply.status, 405) << target;
        EXPECT_EQ(reply.Header("allow"), "GET") << target;
    }
    EXPECT_EQ(Server().Sessions().GetClientInfoList().size(), sessions);
    EXPECT_TRUE(Server().ConvertQueue().Jobs().empty());
    HttpReply head = Get("/file_download/Movies/a.bin", "", "HEAD");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.Header("content-length"), "10");
    EXPECT_EQ(head.body, "");
}

TEST_F(BrowserGuardTest, ForwardedHeadersAreBelievedOnlyFromATrustedProxy)
{
    StartServer();
    const std::string forwarded = "X-Forwarded-For: 198.51.100.4, 203.0.113.9\r\n"
                                  "X-Forwarded-Host: media.example:8443\r\n"
                                  "X-Forwarded-Proto: https\r\n";
    // From a peer nobody trusts they change nothing: the forwarded host is not the
    // request's, so the loopback request is answered under its own name.
    HttpReply ignored = Get("/getList?path=/", forwarded);
    EXPECT_EQ(
        LoopbackServer::PathOf(PlistValue(ignored.body, "fileurl").value_or("")).find("/xml/"), 0u);
    EXPECT_EQ(PlistValue(ignored.body, "fileurl").value_or("").find("http://127.0.0.1:"), 0u);

    SetSetting("TrustedProxies", "127.0.0.0/8");
    HttpReply proxied = Get("/getList?path=/", forwarded);
    // URLs written for the client name the scheme, host and prefix it used itself.
    EXPECT_EQ(
        PlistValue(proxied.body, "fileurl").value_or("").find("https://media.example:8443/xml/"),
        0u)
        << proxied.body;
    SetSetting("BasePath", "/media");
    HttpReply prefixed = Get("/getList?path=/", forwarded);
    EXPECT_EQ(PlistValue(prefixed.body, "fileurl")
                  .value_or("")
                  .find("https://media.example:8443/media/xml/"),
        0u)
        << prefixed.body;
    // The forwarded client (the rightmost address no trusted proxy holds) is outside
    // the home network: the power button refuses it although the socket is loopback.
    HttpReply off = Get("/serverOff", forwarded);
    EXPECT_EQ(PlistValue(off.body, "result"), "-18");
    // Its cookie is Secure, since the client used https.
    SetSetting("Password", "1234");
    SetSetting("PasswordMode", "1");
    SetSetting("RequirePassword", "1");
    HttpReply connect = Get("/connect?password=1234", forwarded);
    EXPECT_NE(connect.Header("set-cookie").find("; Secure"), std::string::npos) << connect.body;
    // Forwarded headers a trusted proxy garbles are refused rather than guessed at.
    EXPECT_EQ(Get("/connect", "X-Forwarded-For: somebody\r\n").status, 400);
    EXPECT_EQ(Get("/connect", "X-Forwarded-Proto: gopher\r\n").status, 400);
}

} // namespace
