// Connections kept alive for HTTP/1.1 clients where the answer has a length (static
// files and the files the handlers send), closed after the phone API's answers, after
// anything that fails, for HTTP/1.0 and on "Connection: close", and closed by the
// server when they stay idle as long as a request's headers may take.

#include "web_server_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One client connection that sends requests one after the other and reads each
// answer by its Content-Length (or to the close when it has none).
class Connection {
public:
    explicit Connection(int port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~Connection() { close(m_fd); }

    HttpReply Ask(const std::string& target, const std::string& version = "HTTP/1.1",
        const std::string& headers = "")
    {
        std::string request
            = "GET " + target + " " + version + "\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
        if (!m_connected || send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) <= 0)
            return {};
        std::string raw = std::move(m_rest);
        m_rest.clear();
        size_t head = std::string::npos;
        while ((head = raw.find("\r\n\r\n")) == std::string::npos && Read(raw)) { }
        if (head == std::string::npos)
            return ParseRawReply(raw);
        HttpReply reply = ParseRawReply(raw.substr(0, head + 4));
        std::string length = reply.Header("content-length");
        if (length.empty()) {
            while (Read(raw)) { }
            return ParseRawReply(raw);
        }
        size_t end = head + 4 + std::stoul(length);
        while (raw.size() < end && Read(raw)) { }
        m_rest = raw.substr(std::min(end, raw.size()));
        return ParseRawReply(raw.substr(0, end));
    }

    // True when the server has closed the connection (within a bound that only keeps
    // a fault from hanging the test).
    bool ClosedByServer()
    {
        std::string ignored;
        while (Read(ignored)) { }
        return m_closed;
    }

private:
    bool Read(std::string& into)
    {
        pollfd waiting { m_fd, POLLIN, 0 };
        if (poll(&waiting, 1, 30000) <= 0)
            return false;
        char buffer[65536];
        ssize_t got = recv(m_fd, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            m_closed = true;
            return false;
        }
        into.append(buffer, static_cast<size_t>(got));
        return true;
    }

    int m_fd = -1;
    bool m_connected = false;
    bool m_closed = false;
    std::string m_rest;
};

class KeepAliveTest : public WebServerTest {
protected:
    void SetUp() override
    {
        WriteGoodSettings();
        m_server = MakeServer();
        ASSERT_TRUE(m_server->WebServer().Start());
        m_file = m_files / "thumb.jpg";
        WriteFileText(m_file, std::string(10240, 'j'));
    }
    void TearDown() override { m_server->WebServer().Stop(); }

    TempFolder m_files;
    std::unique_ptr<HttpContext> m_server;
    std::string m_file;
};

} // namespace

TEST_F(KeepAliveTest, AnswersWithALengthKeepTheConnectionForTheNext)
{
    Connection connection(m_port);
    for (int round = 0; round < 3; ++round) {
        HttpReply page = connection.Ask("/index.html");
        EXPECT_EQ(page.status, 200);
        EXPECT_EQ(page.body, "<html>root</html>");
        HttpReply file = connection.Ask("/send?f=" + m_file);
        EXPECT_EQ(file.status, 200);
        EXPECT_EQ(file.body.size(), 10240u);
        EXPECT_EQ(file.Header("connection"), "keep-alive");
        HttpReply range = connection.Ask("/send?f=" + m_file, "HTTP/1.1", "Range: bytes=0-9\r\n");
        EXPECT_EQ(range.status, 206);
        EXPECT_EQ(range.body, std::string(10, 'j'));
    }
    // The phone API's answer has no length: it ends with the connection.
    HttpReply answer = connection.Ask("/connect");
    EXPECT_EQ(answer.status, 200);
    EXPECT_NE(answer.body.find("<plist"), std::string::npos);
    EXPECT_TRUE(connection.ClosedByServer());
}

TEST_F(KeepAliveTest, FailuresOldClientsAndClientsThatAskCloseTheConnection)
{
    struct Case {
        const char* what;
        std::string target;
        std::string version;
        std::string headers;
    } cases[] = {
        { "a missing file", "/send?f=" + m_file + ".gone", "HTTP/1.1", "" },
        { "a missing static file", "/nothing-here.html", "HTTP/1.1", "" },
        { "HTTP/1.0", "/send?f=" + m_file, "HTTP/1.0", "" },
        { "HTTP/1.0 static", "/index.html", "HTTP/1.0", "Connection: keep-alive\r\n" },
        { "Connection: close", "/send?f=" + m_file, "HTTP/1.1", "Connection: close\r\n" },
        { "a handler that throws", "/throw", "HTTP/1.1", "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Connection connection(m_port);
        HttpReply reply = connection.Ask(c.target, c.version, c.headers);
        EXPECT_NE(reply.status, 0);
        EXPECT_TRUE(connection.ClosedByServer());
    }
}

TEST_F(KeepAliveTest, AnIdleConnectionIsClosedAfterTheHeaderTimeout)
{
    Connection connection(m_port);
    EXPECT_EQ(connection.Ask("/index.html").status, 200);
    // Nothing more is sent: the server lets go of the connection and its worker.
    EXPECT_TRUE(connection.ClosedByServer());
}
