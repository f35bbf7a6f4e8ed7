#pragma once

// A real server for the live-streaming tests: its own data folder, a share "Movies"
// on a media folder, the real HTTP front on a free loopback port, the real engine
// from the program folder. Clients talk to it only over HTTP.

#include "live_test_support.h"
#include "support/test_support.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class CWebServer;

// Settings written before the start ("FixedBandwidth", "MaxLIveClient").
using SettingList = std::vector<std::pair<std::string, std::string>>;

// One server per process: the HTTP front allows one at a time.
class LiveServer {
public:
    explicit LiveServer(const SettingList& settings = SettingList());
    ~LiveServer();

    bool Running() const;
    bool Stop();
    int Port() const { return m_port; }
    const std::string& MediaFolder() const { return m_mediaFolder; }
    std::string ServicesFolder() const;
    std::string WorkFolder(const std::string& clientId) const
    {
        return ServicesFolder() + "/" + clientId;
    }

    HttpReply Get(const std::string& target,
        std::chrono::milliseconds timeout = std::chrono::seconds(60)) const
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

    // Path part of a URL the server gave ("http://host:port/list/..." → "/list/...").
    static std::string PathOf(const std::string& url);

private:
    vembatest::TempFolder m_rootFolder { "vembalive" }; // removed at the end
    std::string m_root;
    std::string m_mediaFolder;
    int m_port = 0;
    std::unique_ptr<CWebServer> m_server;
};

// Test media shared by all tests, made once on first use in a folder of the
// temporary folder that is kept between runs.
const std::string& SharedMediaFolder();
// Makes name in the shared media folder with make(path) unless it is there already.
bool EnsureSharedMedia(const std::string& name, bool (*make)(const std::string&));

// Copies (hard-links where possible) a shared media file into the server's share.
bool PutMedia(const LiveServer& server, const std::string& sharedName, const std::string& asName);

// The value of <key>key</key><string>value</string> in a plist answer.
std::optional<std::string> PlistValue(const std::string& body, const std::string& key);
