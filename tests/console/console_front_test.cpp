// The standalone console's HTTP front on real loopback sockets: connections kept open
// and pipelined, slow and idle connections beside a served one, the bound per
// address, the deadlines, and a handler that throws.

#include "console/console_front.h"
#include "server/app/probe_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// A client socket from a loopback source address of the test's choice, read answer
// by answer while the connection stays open.
class Client {
public:
    Client(int port, const char* source = "127.0.0.1")
        : m_socket(port, source)
        , m_fd(m_socket.Fd())
    {
    }

    bool Connected() const { return m_socket.Connected(); }
    void Send(const std::string& bytes) const
    {
        ssize_t sent = send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        (void)sent;
    }
    // Reads until bytes holds `answers` whole answers (by Content-Length) or the
    // server closes; an empty text when nothing came before it closed.
    std::string Read(int answers = 1)
    {
        while (Whole() < answers) {
            pollfd waiting { m_fd, POLLIN, 0 };
            if (poll(&waiting, 1, 20000) <= 0)
                break;
            char buffer[4096];
            ssize_t got = recv(m_fd, buffer, sizeof(buffer), 0);
            if (got <= 0) {
                m_closed = true;
                break;
            }
            m_in.append(buffer, static_cast<size_t>(got));
        }
        return m_in;
    }
    // True when the server closed the connection (within a generous bound).
    bool ClosedByServer()
    {
        while (!m_closed) {
            pollfd waiting { m_fd, POLLIN, 0 };
            if (poll(&waiting, 1, 20000) <= 0)
                return false;
            char buffer[4096];
            ssize_t got = recv(m_fd, buffer, sizeof(buffer), 0);
            if (got <= 0)
                m_closed = true;
            else
                m_in.append(buffer, static_cast<size_t>(got));
        }
        return true;
    }

private:
    int Whole() const
    {
        int count = 0;
        size_t at = 0;
        for (;;) {
            size_t end = m_in.find("\r\n\r\n", at);
            size_t length = m_in.find("Content-Length: ", at);
            if (end == std::string::npos || length == std::string::npos || length > end)
                return count;
            size_t body = std::stoul(m_in.substr(length + 16));
            if (m_in.size() < end + 4 + body)
                return count;
            ++count;
            at = end + 4 + body;
        }
    }

    ProbeSocket m_socket;
    int m_fd;
    bool m_closed = false;
    std::string m_in;
};

std::string Request(const std::string& path, const std::string& body, bool keepAlive = true)
{
    return "POST " + path + " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size())
        + (keepAlive ? "" : "\r\nConnection: close") + "\r\n\r\n" + body;
}

class ConsoleFrontTest : public ::testing::Test {
protected:
    void Start(FrontOptions options = {})
    {
        options.address = "127.0.0.1";
        std::string error;
        ASSERT_TRUE(m_front.Start(
            options,
            [](const FrontRequest& request) {
                if (request.path == "/throw")
                    throw std::runtime_error("handler failed");
                return FrontAnswer { 200, "text/plain",
                    request.path + "|" + request.body + "|" + request.peer };
            },
            error))
            << error;
    }
    CConsoleFront m_front;
};

TEST_F(ConsoleFrontTest, OpenConnectionsTakePipelinedRequestsInOrder)
{
    Start();
    Client client(m_front.Port());
    ASSERT_TRUE(client.Connected());
    client.Send(Request("/one", "a=1") + Request("/two", "b=2") + Request("/throw", ""));
    std::string answers = client.Read(3);
    size_t one = answers.find("/one|a=1|127.0.0.1");
    size_t two = answers.find("/two|b=2|127.0.0.1");
    ASSERT_NE(one, std::string::npos) << answers;
    ASSERT_NE(two, std::string::npos) << answers;
    EXPECT_LT(one, two);
    EXPECT_NE(answers.find("HTTP/1.1 500"), std::string::npos) << answers;
    EXPECT_NE(answers.find("Connection: keep-alive"), std::string::npos);
    client.Send(Request("/last", "", false));
    EXPECT_TRUE(client.ClosedByServer());
    EXPECT_NE(client.Read().find("/last||"), std::string::npos);
}

TEST_F(ConsoleFrontTest, IdleAndHalfSentConnectionsDoNotKeepOthersWaiting)
{
    FrontOptions options;
    options.workers = 2;
    options.maxConnectionsPerAddress = 1000;
    Start(options);
    std::vector<std::unique_ptr<Client>> stalled;
    for (int i = 0; i < 60; ++i) {
        stalled.push_back(std::make_unique<Client>(m_front.Port()));
        if (i % 3 == 1)
            stalled.back()->Send("POST /slow HTTP/1.1\r\nContent-Le");
        if (i % 3 == 2)
            stalled.back()->Send("POST /slow HTTP/1.1\r\nContent-Length: 100\r\n\r\nmac=");
    }
    for (int i = 0; i < 5; ++i) {
        Client client(m_front.Port());
        client.Send(Request("/served", std::to_string(i), false));
        EXPECT_NE(client.Read().find("200 OK"), std::string::npos) << i;
    }
}

TEST_F(ConsoleFrontTest, AnAddressHoldsABoundedNumberOfConnectionsExceptTrustedProxies)
{
    FrontOptions options;
    options.maxConnectionsPerAddress = 3;
    options.unlimitedPeers = { "127.0.0.3" };
    Start(options);
    // Each connection is known to the front once it has answered on it.
    std::vector<std::unique_ptr<Client>> held;
    for (const char* source : { "127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.3", "127.0.0.3",
             "127.0.0.3", "127.0.0.3" }) {
        held.push_back(std::make_unique<Client>(m_front.Port(), source));
        held.back()->Send(Request("/hold", ""));
        ASSERT_NE(held.back()->Read().find("200 OK"), std::string::npos) << source;
    }
    Client refused(m_front.Port(), "127.0.0.1");
    refused.Send(Request("/more", ""));
    EXPECT_TRUE(refused.ClosedByServer());
    EXPECT_NE(refused.Read().find("503"), std::string::npos);
    Client other(m_front.Port(), "127.0.0.2");
    other.Send(Request("/other", ""));
    EXPECT_NE(other.Read().find("/other||127.0.0.2"), std::string::npos);
}

TEST_F(ConsoleFrontTest, StalledHeadsBodiesAndIdleConnectionsAreClosedAtTheirDeadline)
{
    FrontOptions options;
    options.headerTimeout = std::chrono::milliseconds(200);
    options.bodyTimeout = std::chrono::milliseconds(300);
    Start(options);
    Client idle(m_front.Port());
    Client head(m_front.Port());
    head.Send("POST /a HTTP/1.1\r\nHost:");
    Client body(m_front.Port());
    body.Send("POST /a HTTP/1.1\r\nContent-Length: 10\r\n\r\nab");
    Client afterAnswer(m_front.Port());
    afterAnswer.Send(Request("/kept", ""));
    EXPECT_NE(afterAnswer.Read().find("/kept"), std::string::npos);
    for (Client* client : { &idle, &head, &body, &afterAnswer })
        EXPECT_TRUE(client->ClosedByServer());
    EXPECT_EQ(body.Read().find("HTTP/1.1 200"), std::string::npos);
}

TEST_F(ConsoleFrontTest, MalformedRequestsAreRefusedAndClosed)
{
    Start();
    for (auto [bytes, status] :
        std::vector<std::pair<std::string, std::string>> { { "BROKEN\r\n\r\n", "400" },
            { "POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "411" },
            { "POST /a HTTP/1.1\r\nContent-Length: 70000\r\n\r\n", "413" },
            { "POST /a HTTP/1.1\r\nX: " + std::string(20000, 'x'), "431" } }) {
        Client client(m_front.Port());
        client.Send(bytes);
        EXPECT_TRUE(client.ClosedByServer()) << status;
        EXPECT_EQ(client.Read().substr(0, 12), "HTTP/1.1 " + status) << client.Read();
    }
}

} // namespace
