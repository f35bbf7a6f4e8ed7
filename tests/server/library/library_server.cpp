#include "library_server.h"

#include "config/settings.h"
#include "core/web_server_hooks.h"
#include "http/web_server.h"
#include "library/shared_folders.h"
#include "platform/places.h"
#include "platform/ports.h"
#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <turbojpeg.h>
#include <unistd.h>

LibraryServer::LibraryServer()
{
    m_root = m_rootFolder.Path();
    m_mediaFolder = m_root + "/media";
    m_port = vembatest::PrepareLoopbackServer(m_root, m_mediaFolder);
    WebServerHooks hooks = DefaultWebServerHooks();
    hooks.refreshExternalIp = [] { return true; };
    m_server = std::make_unique<CWebServer>(hooks, DefaultWebServerConfig());
    m_server->Start();
}

LibraryServer::~LibraryServer()
{
    m_server.reset();
    ClearSharedFolders();
    std::error_code ignored;
    if (!m_root.empty()) {
        // Unreadable folders made by a test must not stop the removal.
        std::filesystem::permissions(m_mediaFolder, std::filesystem::perms::owner_all,
            std::filesystem::perm_options::add, ignored);
    }
    // m_rootFolder removes the tree once the server is gone.
}

bool LibraryServer::Running() const
{
    return IsWebServerRunning() && m_server->m_nLastError == 0;
}

std::string LibraryServer::ServicesFolder() const
{
    return GetServicesFolder();
}

HttpReply LibraryServer::Send(const std::string& method, const std::string& target,
    const std::string& extraHeaders, const std::string& host) const
{
    return HttpSend(m_port, method, target, extraHeaders, host);
}

LibraryServer::ListAnswer LibraryServer::GetList(
    const std::string& path, const std::string& host) const
{
    ListAnswer answer;
    const HttpReply reply = Send("GET", "/getList?path=" + UrlEncode(path), {}, host);
    if (auto result = PlistValue(reply.body, "result"))
        answer.result = std::atoi(result->c_str());
    answer.fileUrl = PlistValue(reply.body, "fileurl").value_or("");
    const size_t scheme = answer.fileUrl.find("://");
    const size_t slash = answer.fileUrl.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    if (slash != std::string::npos)
        answer.xmlPath = answer.fileUrl.substr(slash);
    return answer;
}

std::string LibraryServer::FetchListing(const std::string& path) const
{
    const ListAnswer answer = GetList(path);
    if (answer.result != 0 || answer.xmlPath.empty())
        return {};
    const HttpReply reply = Get(answer.xmlPath);
    return reply.status == 200 ? reply.body : std::string();
}

std::string UrlEncode(const std::string& text)
{
    static const char* kHex = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') {
            encoded += char(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    return encoded;
}

std::optional<std::string> PlistValue(const std::string& body, const std::string& key, size_t from)
{
    const std::string open = "<key>" + key + "</key><string>";
    const size_t start = body.find(open, from);
    if (start == std::string::npos)
        return std::nullopt;
    const size_t value = start + open.size();
    const size_t end = body.find("</string>", value);
    if (end == std::string::npos)
        return std::nullopt;
    return body.substr(value, end - value);
}

std::string ListingEntry(const std::string& document, const std::string& escapedName)
{
    const size_t name = document.find("<dict><key>name</key><string>" + escapedName + "</string>");
    if (name == std::string::npos)
        return {};
    const size_t end = document.find("</dict>", name);
    return document.substr(name, end + 7 - name);
}

bool MakeVideo(const std::string& path, int seconds, int width, int height,
    const std::string& audioCodec, const std::string& videoCodec)
{
    std::string quoted = "'";
    for (char c : path)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    const std::string duration = std::to_string(seconds);
    std::string command = "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=duration="
        + duration + ":size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=10";
    if (!audioCodec.empty())
        command += " -f lavfi -i sine=duration=" + duration + ":sample_rate=22050";
    command += " -c:v " + videoCodec + " -pix_fmt yuv420p";
    if (!audioCodec.empty())
        command += " -c:a " + audioCodec;
    command += " " + quoted + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool JpegSize(const std::string& bytes, int& width, int& height)
{
    tjhandle tj = tjInitDecompress();
    int subsampling = 0, colourspace = 0;
    const bool ok = tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(bytes.data()),
                        bytes.size(), &width, &height, &subsampling, &colourspace)
        == 0;
    tjDestroy(tj);
    return ok;
}
