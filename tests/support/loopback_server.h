#pragma once

// The real server on loopback for the library and live-stream tests and the
// benchmarks: a temporary root with its own data folder, a share "Movies" over a
// media folder, the settings of a set-up server on a free port of the test
// program's own, the running system's request table and the real engine from the
// program folder. Clients talk to it only over HTTP (support/http_client.h).

#include "config/settings.h"
#include "library/shared_folders.h"
#include "platform/places.h"
#include "platform/ports.h"
#include "support/http_client.h"
#include "support/test_support.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

class CWebServer;

namespace vembatest {

// Writes the settings a set-up server needs into the data folder under root and
// shares mediaFolder as "Movies". Returns the port the server is to listen on.
inline int PrepareLoopbackServer(const std::string& root, const std::string& mediaFolder)
{
    std::filesystem::create_directories(mediaFolder);
    std::filesystem::create_directories(root + "/data");
    setenv("VEMBACAST_DATA_DIR", (root + "/data").c_str(), 1);
    // Test programs run side by side: start the search at a port of our own.
    int portNumber
        = FindFreePort(47100 + static_cast<int>(getpid() % 400), kLastFreePortSearched + 400);
    const std::string port = std::to_string(portNumber);
    const std::pair<std::string, std::string> settings[] = { { kKeySet, "1" },
        { kKeyInIP, "127.0.0.1" }, { kKeyInPort, port }, { kKeyExtIP, "127.0.0.1" },
        { kKeyExtPort, port }, { kKeyMacAddress, "02:00:00:00:00:01" }, { kKeyPasswordMode, "0" },
        { kKeyPINCodeMode, "0" } };
    for (const auto& [key, value] : settings)
        SetSettingString("", kSettingSection, key, value);
    std::filesystem::create_directories(GetServicesFolder());
    ClearSharedFolders();
    AddSharedFolder(mediaFolder, "Movies");
    return portNumber;
}

} // namespace vembatest

// Settings written before the start ("FixedBandwidth", "MaxLIveClient").
using SettingList = std::vector<std::pair<std::string, std::string>>;

// One server per process: the HTTP front allows one at a time.
class LoopbackServer {
public:
    explicit LoopbackServer(const SettingList& settings = SettingList());
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool Running() const;
    bool Stop();
    int Port() const { return m_port; }
    const std::string& Root() const { return m_root; }
    const std::string& MediaFolder() const { return m_mediaFolder; }
    std::string ServicesFolder() const;
    std::string WorkFolder(const std::string& clientId) const
    {
        return ServicesFolder() + "/" + clientId;
    }

    // One request on a fresh connection; extra header lines end in "\r\n".
    HttpReply Send(const std::string& method, const std::string& target,
        const std::string& extraHeaders = {}, const std::string& host = "127.0.0.1") const
    {
        return HttpSend(m_port, method, target, extraHeaders, host);
    }
    HttpReply Get(const std::string& target, const std::string& extraHeaders = {}) const
    {
        return Send("GET", target, extraHeaders);
    }
    HttpReply Get(const std::string& target, std::chrono::milliseconds timeout) const
    {
        return HttpGet(m_port, target, timeout);
    }

    // "/connect" → the new client id, or empty.
    std::string Connect() const;

    // "/play" for a file of the share → the plist answer's result and message.
    struct PlayAnswer {
        int result = 1;
        std::string message;
    };
    PlayAnswer Play(const std::string& clientId, const std::string& fileName,
        const std::string& playTime, const std::string& width = "480",
        const std::string& height = "320", const std::string& connType = "WIFI") const;

    // "/getList" for a path: the answer's result and, on success, the list file's
    // path part ("/xml/fil1A.tmp").
    struct ListAnswer {
        int result = 1;
        std::string fileUrl;
        std::string xmlPath;
    };
    ListAnswer GetList(const std::string& path, const std::string& host = "127.0.0.1") const;
    // GetList and then the list file's content; empty on any failure.
    std::string FetchListing(const std::string& path) const;

    // Path part of a URL the server gave ("http://host:port/list/..." → "/list/...").
    static std::string PathOf(const std::string& url);

private:
    vembatest::TempFolder m_rootFolder { "vembaserver" }; // removed at the end
    std::string m_root;
    std::string m_mediaFolder;
    int m_port = 0;
    std::unique_ptr<CWebServer> m_server;
};

// Percent-encodes every byte except letters, digits and "/._-".
std::string UrlEncode(const std::string& text);

// The value of <key>key</key><string>value</string> (first occurrence after from).
std::optional<std::string> PlistValue(
    const std::string& body, const std::string& key, size_t from = 0);
