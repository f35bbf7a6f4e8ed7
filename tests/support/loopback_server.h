#pragma once

// The real server on loopback for the server tests and the benchmarks: a server object
// over a temporary root with its own data folder, a share "Movies" over a media folder,
// the settings of a set-up server on a free port of the test program's own, the
// running system's request table and the real engine from the program folder. Clients
// talk to it only over HTTP (support/http_client.h); a test reaches the server's parts
// through Server(). Two loopback servers may run in one process.

#include "core/vemba_server.h"
#include "support/http_client.h"
#include "support/test_server.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Settings written before the start ("FixedBandwidth", "MaxLIveClient").
using SettingList = std::vector<std::pair<std::string, std::string>>;

struct LoopbackOptions {
    SettingList settings;
    std::shared_ptr<Clock> clock; // null: the real clock
    std::shared_ptr<ProcessSpawner> spawner; // null: the real spawner
    RemoteParts remote; // empty: the real transport and gateway (no console is asked)
    ConvertQueueTiming conversions;
    bool start = true; // false: made and set up, but not started
    // Run when a client powers the computer off (through the core controller).
    std::string shutdownCommand = "true";
};

class LoopbackServer {
public:
    explicit LoopbackServer(const SettingList& settings = SettingList());
    explicit LoopbackServer(LoopbackOptions options);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    CVembaServer& Server() { return *m_server; }
    bool Start();
    bool Running() const;
    bool Stop();
    int Port() const { return m_port; }
    const std::string& Root() const { return m_data.Root(); }
    std::string DataFolder() const { return m_data.DataFolder(); }
    const std::string& MediaFolder() const { return m_mediaFolder; }
    std::string ServicesFolder() const { return m_data.ServicesFolder(); }
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
    vembatest::TestDataFolder m_data { "vembaserver" }; // removed at the end
    std::string m_mediaFolder;
    int m_port = 0;
    std::unique_ptr<CVembaServer> m_server;
};

// Percent-encodes every byte except letters, digits and "/._-".
std::string UrlEncode(const std::string& text);

// The value of <key>key</key><string>value</string> (first occurrence after from).
std::optional<std::string> PlistValue(
    const std::string& body, const std::string& key, size_t from = 0);
