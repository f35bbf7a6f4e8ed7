#pragma once

// A real server for the media-library tests: its own data folder, a share "Movies"
// on a media folder, the real HTTP front on a free loopback port and the real
// engine from the program folder. Clients talk to it only over HTTP.

#include "support/http_client.h"
#include "support/test_support.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CWebServer;

class LibraryServer {
public:
    LibraryServer();
    ~LibraryServer();
    LibraryServer(const LibraryServer&) = delete;
    LibraryServer& operator=(const LibraryServer&) = delete;

    bool Running() const;
    int Port() const { return m_port; }
    const std::string& Root() const { return m_root; }
    const std::string& MediaFolder() const { return m_mediaFolder; }
    std::string ServicesFolder() const;

    // One request on a fresh connection; extra header lines end in "\r\n".
    HttpReply Send(const std::string& method, const std::string& target,
        const std::string& extraHeaders = {}, const std::string& host = "127.0.0.1") const;
    HttpReply Get(const std::string& target, const std::string& extraHeaders = {}) const
    {
        return Send("GET", target, extraHeaders);
    }

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

private:
    vembatest::TempFolder m_rootFolder { "vembalib" }; // removed at the end
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

// The <dict>...</dict> entry of a listing whose name is the escaped name, or empty.
std::string ListingEntry(const std::string& document, const std::string& escapedName);

// Short clips made with the ffmpeg tool; the container follows the extension.
bool MakeVideo(const std::string& path, int seconds = 2, int width = 160, int height = 120,
    const std::string& audioCodec = "aac", const std::string& videoCodec = "libx264");
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Width and height of a JPEG; false when the bytes are no JPEG.
bool JpegSize(const std::string& bytes, int& width, int& height);
