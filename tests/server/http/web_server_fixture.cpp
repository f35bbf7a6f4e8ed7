#include "web_server_fixture.h"

#include "http/answer.h"
#include "http/request.h"
#include "http/send_file.h"

#include <filesystem>
#include <stdexcept>
#include <vector>

namespace {

void EchoRow(HttpRequest& request)
{
    HandlerTrace trace("EchoRow", request.QueryString());
    WritePlistAnswer(request, MakeSuccessAnswer(request.Uri()));
}

void EchoVariables(HttpRequest& request)
{
    std::string text
        = "path=[" + GetRequestVar(request, "path") + "] host=[" + GetRequestHost(request) + "]";
    char small[8] = "untouch";
    int copied = CopyRequestVar(request, "short", small);
    text += " copy=" + std::to_string(copied) + "[" + small + "]";
    request.Printf("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n%s", text.c_str());
}

void BigAnswer(HttpRequest& request)
{
    std::string body(20000, 'x');
    body.back() = 'y';
    request.Printf("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n%s", body.c_str());
}

// Tests only: real handlers confine the path to their own folder first.
void SendNamedFile(HttpRequest& request)
{
    qz_mg_send_file(request, GetRequestVar(request, "f"));
}

void Throws(HttpRequest&)
{
    throw std::runtime_error("handler failure");
}

std::vector<Route> EchoRoutes()
{
    return {
        { "/connect", RouteMatch::Exact, "EchoRow", EchoRow },
        { "/list/", RouteMatch::Prefix, "EchoRow", EchoRow },
        { "/convertList", RouteMatch::Exact, "EchoRow", EchoRow },
        { "/convert", RouteMatch::Exact, "EchoRow", EchoRow },
        { "/later", RouteMatch::Exact, "Later", nullptr },
        { "/var", RouteMatch::Exact, "EchoVariables", EchoVariables },
        { "/big", RouteMatch::Exact, "BigAnswer", BigAnswer },
        { "/send", RouteMatch::Exact, "SendNamedFile", SendNamedFile, RouteEffect::ReadOnly },
        { "/throw", RouteMatch::Exact, "Throws", Throws },
    };
}

} // namespace

WebServerTest::WebServerTest()
{
    m_port = vembatest::FreeTestPort();
    std::filesystem::create_directories(m_root / "sub");
    WriteFileText(m_root / "index.html", "<html>root</html>");
    WriteFileText(m_root / "later", "static later");
}

void WebServerTest::WriteGoodSettings(int extPort)
{
    vembatest::WriteServedSettings(Settings(), m_port);
    Set(kKeyExtPort, std::to_string(extPort ? extPort : m_port));
    Set(kKeyPCName, "test");
}

std::unique_ptr<HttpContext> WebServerTest::MakeServer(bool defaultRoot)
{
    auto server = std::make_unique<HttpContext>(m_data.Parts());
    WebServerConfig config;
    config.routes = EchoRoutes();
    if (!defaultRoot)
        config.documentRoot = m_root.path();
    server->WebServer().Configure({}, std::move(config));
    return server;
}

std::string EchoedUri(const HttpReply& reply)
{
    const std::string open = "<key>message</key><string>";
    size_t start = reply.body.find(open);
    if (reply.status != 200 || start == std::string::npos)
        return "(static " + std::to_string(reply.status) + ")";
    start += open.size();
    return reply.body.substr(start, reply.body.find("</string>", start) - start);
}
