// The television device against real control points on a network of its own: the
// test process moves into a fresh network namespace, where the server runs on one
// end of a veth pair (192.168.88.1, and 198.51.100.1 for a neighbour outside the
// home network); the control points run in a second namespace on the other end
// (192.168.88.2 and 198.51.100.2). Nothing leaves the machine.
//
// Control points: GUPnP through Python GObject introspection, and gssdp-discover
// with plain SOAP and HTTP requests (curl). Media are checked with curl, ffmpeg and
// ffprobe.

#include "server/library/media_samples.h"
#include "support/loopback_server.h"
#include "support/upnp_gateway.h"

#include <arpa/inet.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kServerAddress = "192.168.88.1";
constexpr const char* kScreenAddress = "192.168.88.2";
constexpr const char* kOutsideAddress = "198.51.100.2";

std::string TestFolder()
{
    return VEMBA_DLNA_TEST_SCRIPTS;
}

class TelevisionNetwork : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why = vembatest::UpnpGateway::WhyUnavailable();
        for (const char* tool : { "gssdp-discover", "curl", "ffprobe" }) {
            if (why.empty() && !vembatest::RunCommand(std::string("command -v ") + tool))
                why = std::string("needs the command ") + tool;
        }
        if (why.empty()
            && !vembatest::RunCommand(
                "/usr/bin/python3 -c \"import gi; gi.require_version('GUPnP', "
                "'1.6'); gi.require_version('GUPnPAV', '1.0')\""))
            why = "needs python3-gi, gir1.2-gupnp-1.6 and gir1.2-gupnp-av-1.0";
        if (!why.empty())
            GTEST_SKIP() << why;
        std::string error;
        ASSERT_TRUE(vembatest::UpnpGateway::EnterPrivateNetwork(error)) << error;
        m_namespace = "vembatv-" + std::to_string(::getpid());
        const std::string ns = " -n " + m_namespace + " ";
        ASSERT_TRUE(vembatest::RunCommand("ip netns add " + m_namespace, &error)) << error;
        m_namespaceMade = true;
        for (const std::string& step : {
                 "ip link add tv-srv type veth peer name tv-cp netns " + m_namespace,
                 std::string("ip addr add ") + kServerAddress + "/24 dev tv-srv",
                 std::string("ip addr add 198.51.100.1/24 dev tv-srv"),
                 std::string("ip link set tv-srv up"),
                 std::string("ip route add 239.0.0.0/8 dev tv-srv"),
                 "ip" + ns + "link set lo up",
                 "ip" + ns + "addr add " + kScreenAddress + "/24 dev tv-cp",
                 "ip" + ns + "addr add " + kOutsideAddress + "/24 dev tv-cp",
                 "ip" + ns + "link set tv-cp up",
                 "ip" + ns + "route add 239.0.0.0/8 dev tv-cp",
             })
            ASSERT_TRUE(vembatest::RunCommand(step, &error)) << step << ": " << error;
    }

    void TearDown() override
    {
        m_server.reset();
        if (m_namespaceMade)
            vembatest::RunCommand("ip netns delete " + m_namespace);
    }

    // The server with its device on; the share "Movies" holds what the test put there.
    void StartServer(const std::string& dlna = "1")
    {
        LoopbackOptions options;
        options.settings = { { "InIP", kServerAddress }, { "DlnaServer", dlna },
            { "PCName", "Salon & <TV>" }, { "MaxLIveClient", "1" } };
        options.start = false;
        m_server = std::make_unique<LoopbackServer>(options);
        MakeMedia(m_server->MediaFolder());
        ASSERT_TRUE(m_server->Start());
        if (dlna == "1") {
            ASSERT_TRUE(m_server->Server().Device().IsRunning());
        }
        m_udn = m_server->Server().Settings().ReadText("DlnaUdn");
    }

    virtual void MakeMedia(const std::string& folder)
    {
        ASSERT_TRUE(PlaceClip(folder + "/film.mp4", ClipRecipe().Seconds(40).Size(320, 240)));
        fs::create_directories(folder + "/Kids");
        fs::copy_file(folder + "/film.mp4", folder + "/Kids/한국 & <b> #1.mp4");
        fs::copy_file(folder + "/film.mp4", folder + "/.hidden.mp4");
        WriteBytes(folder + "/notes.txt", "not a video");
    }

    // A command in the screens' namespace; its output.
    std::string OnScreen(const std::string& command)
    {
        std::string output;
        vembatest::RunCommand("ip netns exec " + m_namespace + " " + command, &output);
        return output;
    }

    // The GUPnP control point with commands (tab-separated words, one a line).
    std::string GupnpControlPoint(const std::string& commands)
    {
        const std::string input = m_server->Root() + "/commands.txt";
        WriteBytes(input, commands);
        return OnScreen("/usr/bin/python3 "
            + vembatest::ShellQuote(TestFolder() + "/gupnp_control_point.py") + " tv-cp " + m_udn
            + " < " + vembatest::ShellQuote(input));
    }

    std::string Search(const std::string& from)
    {
        return OnScreen("/usr/bin/python3 "
            + vembatest::ShellQuote(TestFolder() + "/ssdp_search.py") + " " + from
            + " urn:schemas-upnp-org:device:MediaServer:1 3");
    }

    std::string Curl(const std::string& arguments)
    {
        return OnScreen("curl -s --max-time 60 " + arguments);
    }

    std::string MediaUrl(const std::string& path) const
    {
        return "http://" + std::string(kServerAddress) + ":" + std::to_string(m_server->Port())
            + path;
    }

    std::string m_namespace;
    bool m_namespaceMade = false;
    std::unique_ptr<LoopbackServer> m_server;
    std::string m_udn;
};

// "pTW92aWVzL2ZpbG0ubXA0" is "Movies/film.mp4" as an object id.
constexpr const char* kFilmId = "pTW92aWVzL2ZpbG0ubXA0";

TEST_F(TelevisionNetwork, AGupnpControlPointFindsTheServerAndBrowsesEveryName)
{
    StartServer();
    const std::string out = GupnpControlPoint("walk\nbrowse\t0\tBrowseMetadata\t0\t0\t\n"
                                              "call\tcds\tGetSortCapabilities\tSortCaps:s\n"
                                              "call\tcds\tGetSearchCapabilities\tSearchCaps:s\n"
                                              "call\tcm\tGetProtocolInfo\tSource:s\tSink:s\n");
    EXPECT_NE(out.find("{\"found\": true, \"name\": \"Salon & <TV>\"}"), std::string::npos) << out;
    // The names come back as they are on disk, through DIDL-Lite and gupnp-av's parser.
    EXPECT_NE(out.find("\"title\": \"한국 & <b> #1\""), std::string::npos) << out;
    EXPECT_NE(
        out.find("\"title\": \"film\", \"class\": \"object.item.videoItem\""), std::string::npos);
    EXPECT_NE(out.find("\"title\": \"Kids\", \"class\": \"object.container.storageFolder\""),
        std::string::npos);
    EXPECT_EQ(out.find("hidden"), std::string::npos) << out;
    EXPECT_EQ(out.find("notes"), std::string::npos) << out;
    EXPECT_EQ(out.find(m_server->MediaFolder()), std::string::npos) << "a disk path: " << out;
    EXPECT_NE(
        out.find("\"uri\": \"" + MediaUrl("/dlna/media/") + kFilmId + ".mp4\""), std::string::npos);
    EXPECT_NE(out.find("\"albumArt\": \"" + MediaUrl("/dlna/thumb/") + kFilmId + ".jpg\""),
        std::string::npos);
    EXPECT_NE(
        out.find("\"title\": \"Salon & <TV>\", \"class\": \"object.container.storageFolder\""),
        std::string::npos)
        << "the root carries the server's name";
    EXPECT_NE(out.find("{\"SortCaps\": \"dc:title,dc:date\"}"), std::string::npos) << out;
    EXPECT_NE(out.find("{\"SearchCaps\": \"\"}"), std::string::npos) << out;
    EXPECT_NE(out.find("DLNA.ORG_OP=10;DLNA.ORG_CI=1"), std::string::npos) << out;
}

TEST_F(TelevisionNetwork, GssdpDiscoverAndPlainSoapFindAndBrowseIt)
{
    StartServer();
    const std::string found = OnScreen("timeout 10 gssdp-discover -i tv-cp -n 3 -t " + m_udn);
    const size_t at = found.find("Location: ");
    ASSERT_NE(at, std::string::npos) << found;
    const std::string location = found.substr(at + 10, found.find('\n', at) - at - 10);
    EXPECT_EQ(location, m_server->Server().Device().DescriptionUrl()) << found;
    const std::string description = Curl(vembatest::ShellQuote(location));
    EXPECT_NE(
        description.find("<friendlyName>Salon &amp; &lt;TV&gt;</friendlyName>"), std::string::npos)
        << description;
    EXPECT_NE(description.find("<UDN>" + m_udn + "</UDN>"), std::string::npos);

    const std::string base = location.substr(0, location.find('/', 7));
    const std::string body
        = "<?xml version=\"1.0\"?><s:Envelope "
          "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
          "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
          "<u:Browse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\">"
          "<ObjectID>pTW92aWVzL0tpZHM</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag>"
          "<Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>10</RequestedCount>"
          "<SortCriteria>+dc:title</SortCriteria></u:Browse></s:Body></s:Envelope>";
    WriteBytes(m_server->Root() + "/browse.xml", body);
    const std::string answer
        = Curl("-H 'Content-Type: text/xml; charset=\"utf-8\"' -H "
               "'SOAPACTION: \"urn:schemas-upnp-org:service:ContentDirectory:1#Browse\"' "
               "--data-binary @"
            + vembatest::ShellQuote(m_server->Root() + "/browse.xml") + " " + base
            + "/control/ContentDirectory");
    EXPECT_NE(answer.find("<TotalMatches>1</TotalMatches>"), std::string::npos) << answer;
    // The DIDL-Lite travels escaped inside the SOAP answer: the title's own '&' and
    // '<' are escaped twice.
    EXPECT_NE(answer.find("&lt;dc:title&gt;한국 &amp;amp; &amp;lt;b&amp;gt; #1&lt;/dc:title&gt;"),
        std::string::npos)
        << answer;
}

TEST_F(TelevisionNetwork, TheFileDownloadsByteExactAndTheStreamPlaysAndSeeks)
{
    StartServer();
    const std::string film = m_server->MediaFolder() + "/film.mp4";
    const std::string got = m_server->Root() + "/got.mp4";
    const std::string headers
        = Curl("-D - -o " + got + " " + MediaUrl(std::string("/dlna/media/") + kFilmId + ".mp4"));
    EXPECT_NE(headers.find(
                  "contentFeatures.dlna.org: DLNA.ORG_PN=AVC_MP4_MP_SD_AAC_MULT5;DLNA.ORG_OP=01"),
        std::string::npos)
        << headers;
    EXPECT_EQ(ReadBytes(got), ReadBytes(film));
    const std::string range
        = Curl("-r 1000-4999 " + MediaUrl(std::string("/dlna/media/") + kFilmId + ".mp4"));
    EXPECT_EQ(range, ReadBytes(film).substr(1000, 4000));
    const std::string thumb = m_server->Root() + "/thumb.jpg";
    Curl("-o " + thumb + " " + MediaUrl(std::string("/dlna/thumb/") + kFilmId + ".jpg"));
    EXPECT_EQ(ReadBytes(thumb).substr(0, 3), "\xFF\xD8\xFF");

    // The whole stream plays through the ffmpeg tool, for the file's whole length.
    const std::string stream = MediaUrl(std::string("/dlna/stream/") + kFilmId + "/720.ts");
    const std::string played
        = OnScreen("ffmpeg -nostdin -v error -i " + stream + " -f null - && echo PLAYED");
    EXPECT_NE(played.find("PLAYED"), std::string::npos) << played;
    const std::string whole = m_server->Root() + "/whole.ts";
    Curl("-o " + whole + " " + stream);
    std::string duration;
    vembatest::RunCommand(
        "ffprobe -v error -show_entries format=duration -of csv=p=0 " + whole, &duration);
    EXPECT_NEAR(std::atof(duration.c_str()), 40.0, 1.0) << duration;

    // A time seek starts the stream at the asked time, within one segment.
    const std::string sought = m_server->Root() + "/sought.ts";
    const std::string seekHeaders
        = Curl("-D - -H 'TimeSeekRange.dlna.org: npt=30-' -o " + sought + " " + stream);
    EXPECT_NE(seekHeaders.find("TimeSeekRange.dlna.org: npt=30.000-"), std::string::npos)
        << seekHeaders;
    std::string start;
    vembatest::RunCommand(
        "ffprobe -v error -show_entries format=start_time -of csv=p=0 " + sought, &start);
    // The engine's timestamps are media time plus 10 s.
    EXPECT_NEAR(std::atof(start.c_str()) - 10.0, 30.0, 5.0) << start;
}

TEST_F(TelevisionNetwork, AStreamCountsAgainstTheLiveLimitUntilTheScreenCloses)
{
    StartServer(); // "MaxLIveClient" 1
    const std::string target = std::string("/dlna/stream/") + kFilmId + "/1080.ts";
    int screen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(m_server->Port()));
    inet_pton(AF_INET, kServerAddress, &address.sin_addr);
    ASSERT_EQ(::connect(screen, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + std::string(kServerAddress)
        + "\r\n\r\n";
    ASSERT_EQ(
        ::send(screen, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    char buffer[4096];
    ssize_t got = ::recv(screen, buffer, sizeof buffer, 0); // the answer has begun
    ASSERT_GT(got, 0);
    EXPECT_EQ(std::string(buffer, 15), "HTTP/1.1 200 OK");

    EXPECT_NE(Curl("-o /dev/null -w '%{http_code}' " + MediaUrl(target)), "200")
        << "a second stream is over the limit";
    ::close(screen); // the screen goes: the stream ends and its engine with it
    for (int i = 0; i < 3000 && m_server->Server().Streams().Running() > 0; ++i)
        m_server->Server().Time().Sleep(std::chrono::milliseconds(10));
    EXPECT_EQ(m_server->Server().Streams().Running(), 0u);
    EXPECT_EQ(m_server->Server().EncSessions().CountEncSessions(), 0u);
    EXPECT_EQ(Curl("-o /dev/null -w '%{http_code}' -r 0-99 "
                  + MediaUrl(std::string("/dlna/media/") + kFilmId + ".mp4")),
        "206");
}

TEST_F(TelevisionNetwork, OnlyTheHomeNetworkIsAnsweredAndStopSaysByebye)
{
    StartServer();
    EXPECT_NE(Search(kScreenAddress).find(m_udn), std::string::npos)
        << "the check can see an answer";
    EXPECT_EQ(Search(kOutsideAddress), "") << "no answer outside the home network";
    const std::string description = m_server->Server().Device().DescriptionUrl();
    EXPECT_EQ(Curl("--interface " + std::string(kOutsideAddress)
                  + " -o /dev/null -w '%{http_code}' " + description),
        "403");
    EXPECT_EQ(
        Curl("--interface " + std::string(kOutsideAddress) + " -o /dev/null -w '%{http_code}' "
            + MediaUrl(std::string("/dlna/media/") + kFilmId + ".mp4")),
        "403");
    EXPECT_EQ(Curl("--interface " + std::string(kScreenAddress) + " -o /dev/null -w '%{http_code}' "
                  + description),
        "200");

    // A listener on the screens' side hears the device go.
    const std::string log = m_server->Root() + "/notify.log";
    vembatest::RunCommand("ip netns exec " + m_namespace + " sh -c '/usr/bin/python3 "
        + vembatest::ShellQuote(TestFolder() + "/ssdp_listen.py") + " " + kScreenAddress + " 60 > "
        + log + " 2>&1 & echo $! > " + log + ".pid'");
    for (int i = 0; i < 1000 && ReadBytes(log).find("ready") == std::string::npos; ++i)
        m_server->Server().Time().Sleep(std::chrono::milliseconds(10));
    ASSERT_NE(ReadBytes(log).find("ready"), std::string::npos) << ReadBytes(log);
    m_server->Stop();
    const std::string byebye = "ssdp:byebye " + m_udn;
    for (int i = 0; i < 1000 && ReadBytes(log).find(byebye) == std::string::npos; ++i)
        m_server->Server().Time().Sleep(std::chrono::milliseconds(10));
    vembatest::RunCommand("kill $(cat " + log + ".pid)");
    EXPECT_NE(ReadBytes(log).find(byebye), std::string::npos) << ReadBytes(log);
    EXPECT_FALSE(m_server->Server().Device().IsRunning());
}

TEST_F(TelevisionNetwork, SwitchedOffThereIsNothingToFind)
{
    StartServer("0");
    EXPECT_FALSE(m_server->Server().Device().IsRunning());
    EXPECT_EQ(Search(kScreenAddress), "");
    EXPECT_EQ(Curl("-o /dev/null -w '%{http_code}' "
                  + MediaUrl(std::string("/dlna/media/") + kFilmId + ".mp4")),
        "404");
}

class TelevisionLargeFolder : public TelevisionNetwork {
protected:
    void MakeMedia(const std::string& folder) override
    {
        const std::string clip = folder + "/../tiny.mp4";
        ASSERT_TRUE(PlaceClip(clip, ClipRecipe().Seconds(1)));
        fs::create_directories(folder + "/Many");
        for (int i = 0; i < 2000; ++i)
            fs::create_hard_link(clip, folder + "/Many/clip " + std::to_string(i) + ".mp4");
    }
};

TEST_F(TelevisionLargeFolder, PagingOverTwoThousandVideosReturnsEachOnce)
{
    StartServer();
    // "pTW92aWVzL01hbnk" is "Movies/Many".
    const std::string out
        = GupnpControlPoint("pages\tpTW92aWVzL01hbnk\t50\npages\tpTW92aWVzL01hbnk\t77\n");
    EXPECT_NE(
        out.find("{\"total\": 2000, \"returned\": 2000, \"unique\": 2000, \"uniqueTitles\": 2000"),
        std::string::npos)
        << out;
    const std::string both = "\"returned\": 2000, \"unique\": 2000, \"uniqueTitles\": 2000";
    EXPECT_NE(out.find(both, out.find(both) + 1), std::string::npos) << "pages of 77: " << out;
}

} // namespace
