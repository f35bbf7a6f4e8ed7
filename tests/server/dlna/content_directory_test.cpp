// The ContentDirectory over real folders and real media: which objects a screen
// sees, their ids, paging and sorting, the DIDL-Lite read back with gupnp-av's own
// parser, and the errors of bad requests.

#include "dlna/content_directory.h"
#include "dlna/dlna_context.h"
#include "dlna/media_catalog.h"
#include "dlna/object_ids.h"
#include "server/library/media_samples.h"
#include "support/test_server.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <libgupnp-av/gupnp-av.h>
#include <map>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct ParsedObject {
    std::string id, parentId, title, upnpClass, albumArt;
    int childCount = -1;
    std::vector<std::string> protocolInfos;
    std::vector<std::string> uris;
};

void OnObject(GUPnPDIDLLiteParser*, GUPnPDIDLLiteObject* object, gpointer data)
{
    ParsedObject parsed;
    auto text = [](const char* value) { return value ? std::string(value) : std::string(); };
    parsed.id = text(gupnp_didl_lite_object_get_id(object));
    parsed.parentId = text(gupnp_didl_lite_object_get_parent_id(object));
    parsed.title = text(gupnp_didl_lite_object_get_title(object));
    parsed.upnpClass = text(gupnp_didl_lite_object_get_upnp_class(object));
    parsed.albumArt = text(gupnp_didl_lite_object_get_album_art(object));
    if (GUPNP_IS_DIDL_LITE_CONTAINER(object))
        parsed.childCount
            = gupnp_didl_lite_container_get_child_count(GUPNP_DIDL_LITE_CONTAINER(object));
    GList* resources = gupnp_didl_lite_object_get_resources(object);
    for (GList* item = resources; item; item = item->next) {
        auto* resource = GUPNP_DIDL_LITE_RESOURCE(item->data);
        parsed.uris.push_back(text(gupnp_didl_lite_resource_get_uri(resource)));
        xmlNode* node = gupnp_didl_lite_resource_get_xml_node(resource);
        xmlChar* info = xmlGetProp(node, BAD_CAST "protocolInfo");
        parsed.protocolInfos.push_back(info ? reinterpret_cast<const char*>(info) : "");
        xmlFree(info);
    }
    g_list_free_full(resources, g_object_unref);
    static_cast<std::vector<ParsedObject>*>(data)->push_back(parsed);
}

std::vector<ParsedObject> ParseDidl(const std::string& didl)
{
    std::vector<ParsedObject> objects;
    GUPnPDIDLLiteParser* parser = gupnp_didl_lite_parser_new();
    g_signal_connect(parser, "object-available", G_CALLBACK(OnObject), &objects);
    GError* error = nullptr;
    EXPECT_TRUE(gupnp_didl_lite_parser_parse_didl(parser, didl.c_str(), &error))
        << (error ? error->message : "") << didl;
    g_clear_error(&error);
    g_object_unref(parser);
    return objects;
}

class ContentDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_share = m_data.Root() + "/share";
        fs::create_directories(m_share + "/Kids/.secret");
        fs::create_directories(m_share + "/.hidden folder");
        ASSERT_TRUE(PlaceClip(m_share + "/film.mp4"));
        Link(m_share + "/film.mp4", m_share + "/Kids/한국 & <b> #1.mp4");
        Link(m_share + "/film.mp4", m_share + "/.hidden.mp4");
        Link(m_share + "/film.mp4", m_share + "/Kids/.secret/inside.mp4");
        Link(m_share + "/film.mp4", m_share + "/.hidden folder/inside.mp4");
        WriteBytes(m_share + "/notes.txt", "not a video");
        WriteBytes(m_share + "/film.smi", "<SAMI><BODY><SYNC Start=0><P>hi</BODY></SAMI>");
        fs::create_directories(m_data.Root() + "/outside");
        Link(m_share + "/film.mp4", m_data.Root() + "/outside/escape.mp4");
        fs::create_symlink(m_data.Root() + "/outside", m_share + "/link out");
        fs::create_symlink(m_data.Root() + "/outside/escape.mp4", m_share + "/escape.mp4");
        m_server.SharedFolders().AddSharedFolder(m_share, "Movies");
    }

    static void Link(const std::string& from, const std::string& to)
    {
        ASSERT_EQ(::link(from.c_str(), to.c_str()), 0) << to;
    }

    BrowseAnswer Children(
        const std::string& id, uint32_t start = 0, uint32_t count = 0, const std::string& sort = "")
    {
        BrowseRequest request { id, "BrowseDirectChildren", "*", start, count, sort,
            "http://192.168.1.5:47002", "Living Room" };
        return Browse(m_server.Catalog(), request);
    }

    vembatest::TestDataFolder m_data { "dlnacds" };
    DlnaContext m_server { m_data.Parts(), RemoteParts {} };
    std::string m_share;
};

TEST(ObjectIds, RoundTripAnyNameAndRefuseWhatIsNotOurs)
{
    for (const std::string path :
        { "Movies", "Movies/Kids/한국 & <b> #1.mp4", "a/b?c=d%20e", "x" }) {
        const std::string id = MakeObjectId(path);
        EXPECT_EQ(id.find('/'), std::string::npos) << id;
        EXPECT_EQ(ObjectIdPath(id), path);
    }
    EXPECT_EQ(MakeObjectId(""), "0");
    EXPECT_EQ(ObjectIdPath("0"), "");
    EXPECT_EQ(ParentObjectId("Movies"), "0");
    EXPECT_EQ(ParentObjectId("Movies/Kids/a.mp4"), MakeObjectId("Movies/Kids"));
    // Not our form, a character outside the alphabet, padding, non-zero left-over bits.
    const std::vector<std::string> bad = { "", "1", "p", "pTW92aWVz=", "pTW9 2aWVz",
        "q" + MakeObjectId("a"), "pTWB", "pTW92aWVzB", "/etc/passwd" };
    for (const std::string& id : bad)
        EXPECT_FALSE(ObjectIdPath(id).has_value()) << id;
}

TEST_F(ContentDirectoryTest, ScreensSeeSharesFoldersAndVideosButNothingHiddenOrOutside)
{
    const BrowseAnswer root = Children(kRootObjectId);
    ASSERT_EQ(root.error, 0) << root.errorText;
    std::vector<ParsedObject> shares = ParseDidl(root.result);
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares[0].title, "Movies");
    EXPECT_EQ(shares[0].parentId, "0");
    EXPECT_EQ(shares[0].upnpClass, "object.container.storageFolder");

    const BrowseAnswer movies = Children(shares[0].id);
    ASSERT_EQ(movies.error, 0);
    std::vector<ParsedObject> children = ParseDidl(movies.result);
    std::vector<std::string> titles;
    for (const ParsedObject& child : children)
        titles.push_back(child.title);
    // Subfolders first, then videos, each by name; the link out of the share, the
    // hidden entries and the text file are not there.
    EXPECT_EQ(titles, (std::vector<std::string> { "Kids", "film" }));
    EXPECT_EQ(movies.totalMatches, 2u);
    EXPECT_EQ(shares[0].childCount, 2);
    EXPECT_EQ(children[0].childCount, 1); // Kids: the hidden folder inside is not counted

    const ParsedObject& film = children[1];
    EXPECT_EQ(film.upnpClass, "object.item.videoItem");
    ASSERT_EQ(film.protocolInfos.size(), 4u); // the file, 1080p, 720p, the subtitles
    EXPECT_EQ(
        film.protocolInfos[0].rfind("http-get:*:video/mp4:DLNA.ORG_PN=AVC_MP4_MP_SD_AAC_MULT5;"
                                    "DLNA.ORG_OP=01;",
            0),
        0u)
        << film.protocolInfos[0];
    for (int i : { 1, 2 })
        EXPECT_NE(film.protocolInfos[i].find("video/mpeg:DLNA.ORG_OP=10;DLNA.ORG_CI=1"),
            std::string::npos);
    EXPECT_EQ(film.uris[1], "http://192.168.1.5:47002/dlna/stream/" + film.id + "/1080.ts");
    EXPECT_EQ(film.protocolInfos[3], "http-get:*:text/srt:*");
    EXPECT_EQ(film.albumArt, "http://192.168.1.5:47002/dlna/thumb/" + film.id + ".jpg");
    EXPECT_NE(movies.result.find("dlna:profileID=\"JPEG_TN\""), std::string::npos);
    EXPECT_NE(movies.result.find("sec:CaptionInfoEx"), std::string::npos);
    // No disk path anywhere in what a screen is told.
    EXPECT_EQ(movies.result.find(m_data.Root()), std::string::npos);

    const BrowseAnswer kids = Children(children[0].id);
    std::vector<ParsedObject> inKids = ParseDidl(kids.result);
    ASSERT_EQ(inKids.size(), 1u);
    EXPECT_EQ(inKids[0].title, "한국 & <b> #1");
    EXPECT_EQ(ObjectIdPath(inKids[0].id), "Movies/Kids/한국 & <b> #1.mp4");
    EXPECT_EQ(inKids[0].parentId, children[0].id);
}

TEST_F(ContentDirectoryTest, IdsOfHiddenOutsideOrOtherFilesNameNothing)
{
    const std::map<std::string, bool> paths = {
        { "Movies/film.mp4", true },
        { "Movies/Kids", true },
        { "Movies/.hidden.mp4", false },
        { "Movies/Kids/.secret/inside.mp4", false },
        { "Movies/.hidden folder", false },
        { "Movies/notes.txt", false },
        { "Movies/escape.mp4", false },
        { "Movies/link out/escape.mp4", false },
        { "Movies/../share/film.mp4", false },
        { "Music", false },
        { "Movies/missing.mp4", false },
    };
    for (const auto& [path, found] : paths) {
        EXPECT_EQ(m_server.Catalog().Resolve(MakeObjectId(path)).has_value(), found) << path;
        BrowseRequest request { MakeObjectId(path), "BrowseMetadata", "*", 0, 0, "", "http://h:1",
            "" };
        EXPECT_EQ(Browse(m_server.Catalog(), request).error, found ? 0 : kUpnpNoSuchObject) << path;
    }
}

TEST_F(ContentDirectoryTest, BadRequestsGetTheirUpnpErrors)
{
    const std::string film = MakeObjectId("Movies/film.mp4");
    EXPECT_EQ(Children("pnonsense!").error, kUpnpNoSuchObject);
    EXPECT_EQ(Children(film).error, kUpnpCannotProcess); // an item has no children
    EXPECT_EQ(Children(kRootObjectId, 0, 0, "+upnp:artist").error, kUpnpInvalidSort);
    BrowseRequest request { kRootObjectId, "BrowseEverything", "*", 0, 0, "", "http://h:1", "" };
    EXPECT_EQ(Browse(m_server.Catalog(), request).error, kUpnpInvalidArgs);

    request.browseFlag = "BrowseMetadata";
    const BrowseAnswer root = Browse(m_server.Catalog(), request);
    ASSERT_EQ(root.error, 0);
    std::vector<ParsedObject> objects = ParseDidl(root.result);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].id, "0");
    EXPECT_EQ(objects[0].parentId, "-1");
    EXPECT_EQ(objects[0].childCount, 1);
}

TEST_F(ContentDirectoryTest, PagesCoverAFolderOnceInEveryOrder)
{
    const std::string folder = m_share + "/Many";
    fs::create_directories(folder + "/sub b");
    fs::create_directories(folder + "/sub a");
    for (int i = 0; i < 23; ++i) {
        const std::string path = folder + "/clip " + std::to_string((i * 7) % 23) + ".mp4";
        fs::copy_file(m_share + "/film.mp4", path); // links would share one time
        // Dates run against the names, so the two sorts differ.
        const auto when = fs::file_time_type::clock::now() - std::chrono::hours(i);
        fs::last_write_time(path, when);
    }
    const std::string id = MakeObjectId("Movies/Many");
    for (const std::string sort :
        { "", "+dc:title", "-dc:title", "+dc:date", "-dc:date,+dc:title" }) {
        std::vector<std::string> seen;
        for (uint32_t start = 0;; start += 4) {
            const BrowseAnswer page = Children(id, start, 4, sort);
            ASSERT_EQ(page.error, 0);
            EXPECT_EQ(page.totalMatches, 25u);
            EXPECT_EQ(page.numberReturned, std::min<uint32_t>(4, 25 - std::min(25u, start)));
            if (page.numberReturned == 0)
                break;
            for (const ParsedObject& object : ParseDidl(page.result))
                seen.push_back(object.title);
        }
        EXPECT_EQ(seen.size(), 25u) << sort;
        EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), 25u) << sort;
        const BrowseAnswer all = Children(id, 0, 0, sort);
        std::vector<std::string> whole;
        for (const ParsedObject& object : ParseDidl(all.result))
            whole.push_back(object.title);
        EXPECT_EQ(whole, seen) << "pages follow one order: " << sort;
        if (sort.empty()) {
            EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 3),
                (std::vector<std::string> { "sub a", "sub b", "clip 0" }));
        }
        if (sort == "-dc:title") {
            EXPECT_EQ(seen.front(), "sub b");
        }
        if (sort == "+dc:date") { // the 23rd clip was written 22 hours before the first
            EXPECT_EQ(seen.front(), "clip " + std::to_string((22 * 7) % 23));
        }
    }
}

} // namespace
