#include "live_server_fixture.h"

#include "config/settings.h"
#include "core/web_server_hooks.h"
#include "http/web_server.h"
#include "library/shared_folders.h"
#include "platform/places.h"
#include "platform/ports.h"
#include "streaming/session_list.h"
#include "support/loopback_server.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

std::string UrlEncode(const std::string& text)
{
    static const char* kHex = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_')
            encoded += static_cast<char>(c);
        else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    return encoded;
}

} // namespace

LiveServer::LiveServer(const SettingList& settings)
{
    m_root = m_rootFolder.Path();
    m_mediaFolder = m_root + "/media";
    m_port = vembatest::PrepareLoopbackServer(m_root, m_mediaFolder);
    for (const auto& [key, value] : settings)
        SetSettingString("", kSettingSection, key, value);
    WebServerHooks hooks = DefaultWebServerHooks();
    hooks.refreshExternalIp = [] { return true; };
    hooks.releaseSessions = [] { QZ_FreeClientInfoList(); };
    m_server = std::make_unique<CWebServer>(hooks, DefaultWebServerConfig());
    m_server->Start();
}

LiveServer::~LiveServer()
{
    m_server.reset();
    ClearSharedFolders();
    // m_rootFolder removes the tree once the server is gone.
}

bool LiveServer::Running() const
{
    return IsWebServerRunning() && m_server->m_nLastError == 0;
}

bool LiveServer::Stop()
{
    return m_server->Stop();
}

std::string LiveServer::ServicesFolder() const
{
    return GetServicesFolder();
}

std::string LiveServer::Connect() const
{
    HttpReply reply = Get("/connect");
    if (reply.status != 200 || PlistValue(reply.body, "result") != "0")
        return {};
    return PlistValue(reply.body, "message").value_or("");
}

LiveServer::PlayAnswer LiveServer::Play(const std::string& clientId, const std::string& fileName,
    const std::string& playTime, const std::string& width, const std::string& height,
    const std::string& connType) const
{
    std::string target = "/play?id=" + clientId + "&path=" + UrlEncode("/Movies/" + fileName)
        + "&width=" + width + "&height=" + height + "&ostype=iOS&conntype=" + connType
        + "&playtime=" + UrlEncode(playTime);
    HttpReply reply = Get(target);
    PlayAnswer answer;
    if (auto result = PlistValue(reply.body, "result"))
        answer.result = std::atoi(result->c_str());
    answer.message = PlistValue(reply.body, "message").value_or("");
    return answer;
}

std::string LiveServer::PathOf(const std::string& url)
{
    size_t scheme = url.find("://");
    size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return slash == std::string::npos ? std::string() : url.substr(slash);
}

const std::string& SharedMediaFolder()
{
    // Every test runs in a process of its own; the clips are made once per machine
    // and user and kept between runs (a few megabytes in the temporary folder).
    static const std::string folder = [] {
        std::string path = (std::filesystem::temp_directory_path()
            / ("vembacast-test-media-" + std::to_string(getuid())))
                               .string();
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

bool EnsureSharedMedia(const std::string& name, bool (*make)(const std::string&))
{
    std::string path = SharedMediaFolder() + "/" + name;
    if (std::filesystem::exists(path))
        return true;
    // Made under a name of this process with the same extension and renamed when
    // whole, so tests running side by side never see half a clip.
    std::string making = SharedMediaFolder() + "/making-" + std::to_string(getpid()) + "-" + name;
    if (!make(making)) {
        std::filesystem::remove(making);
        return false;
    }
    std::filesystem::rename(making, path);
    return true;
}

bool PutMedia(const LiveServer& server, const std::string& sharedName, const std::string& asName)
{
    std::error_code error;
    std::string from = SharedMediaFolder() + "/" + sharedName;
    std::string to = server.MediaFolder() + "/" + asName;
    std::filesystem::create_hard_link(from, to, error);
    if (error)
        std::filesystem::copy_file(from, to, error);
    return !error;
}

std::optional<std::string> PlistValue(const std::string& body, const std::string& key)
{
    std::string head = "<key>" + key + "</key><string>";
    size_t at = body.find(head);
    if (at == std::string::npos)
        return std::nullopt;
    at += head.size();
    size_t end = body.find("</string>", at);
    if (end == std::string::npos)
        return std::nullopt;
    return body.substr(at, end - at);
}
