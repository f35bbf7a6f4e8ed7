#include "support/loopback_server.h"

#include <cctype>
#include <filesystem>

namespace {

LoopbackOptions WithSettings(const SettingList& settings)
{
    LoopbackOptions options;
    options.settings = settings;
    return options;
}

} // namespace

LoopbackServer::LoopbackServer(const SettingList& settings)
    : LoopbackServer(WithSettings(settings))
{
}

LoopbackServer::LoopbackServer(LoopbackOptions options)
    : m_mediaFolder(m_data.Root() + "/media")
{
    std::filesystem::create_directories(m_mediaFolder);
    ServerParts parts = m_data.Parts(options.clock, options.spawner);
    parts.shutdownCommand = options.shutdownCommand;
    m_server = std::make_unique<CVembaServer>(
        std::move(parts), std::move(options.remote), options.conversions);
    SettingsStore& settings = m_server->Settings();
    m_port = vembatest::WriteServedSettings(settings);
    for (const auto& [key, value] : options.settings)
        settings.WriteText(key, value);
    m_server->CreateServicesFolder();
    m_server->SharedFolders().AddSharedFolder(m_mediaFolder, "Movies");
    if (options.start)
        Start();
}

LoopbackServer::~LoopbackServer()
{
    m_server.reset();
    // Unreadable folders made by a test must not stop the removal.
    std::error_code ignored;
    std::filesystem::permissions(m_mediaFolder, std::filesystem::perms::owner_all,
        std::filesystem::perm_options::add, ignored);
    // m_data removes the tree once the server is gone.
}

bool LoopbackServer::Start()
{
    return m_server->Start();
}

bool LoopbackServer::Running() const
{
    return m_server->WebServer().IsRunning() && m_server->WebServer().m_nLastError == 0;
}

bool LoopbackServer::Stop()
{
    return m_server->Stop();
}

std::string LoopbackServer::Connect() const
{
    HttpReply reply = Get("/connect");
    if (reply.status != 200 || PlistValue(reply.body, "result") != "0")
        return {};
    return PlistValue(reply.body, "message").value_or("");
}

LoopbackServer::PlayAnswer LoopbackServer::Play(const std::string& clientId,
    const std::string& fileName, const std::string& playTime, const std::string& width,
    const std::string& height, const std::string& connType) const
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

LoopbackServer::ListAnswer LoopbackServer::GetList(
    const std::string& path, const std::string& host) const
{
    ListAnswer answer;
    const HttpReply reply = Send("GET", "/getList?path=" + UrlEncode(path), {}, host);
    if (auto result = PlistValue(reply.body, "result"))
        answer.result = std::atoi(result->c_str());
    answer.fileUrl = PlistValue(reply.body, "fileurl").value_or("");
    answer.xmlPath = PathOf(answer.fileUrl);
    return answer;
}

std::string LoopbackServer::FetchListing(const std::string& path) const
{
    const ListAnswer answer = GetList(path);
    if (answer.result != 0 || answer.xmlPath.empty())
        return {};
    const HttpReply reply = Get(answer.xmlPath);
    return reply.status == 200 ? reply.body : std::string();
}

std::string LoopbackServer::PathOf(const std::string& url)
{
    size_t scheme = url.find("://");
    size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return slash == std::string::npos ? std::string() : url.substr(slash);
}

std::string UrlEncode(const std::string& text)
{
    static const char* kHex = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') {
            encoded += static_cast<char>(c);
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
