// The thumbnail maker around its frame source: naming, storing, refusing, and
// never making a stored thumbnail again. The engine itself is exercised by the
// integration tests; here the source is a stand-in that can also misbehave in ways
// the engine never does (a frame 1024 pixels wide).

#include "library/thumbnail.h"
#include "library/thumbnail_image.h"
#include "support/test_support.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <turbojpeg.h>

namespace fs = std::filesystem;

namespace {

class ThumbnailMaking : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(folder.Path().empty());
        root = folder.Path();
        services = root + "/Services";
        fs::create_directories(services);
        video = root + "/clip.avi";
        std::ofstream(video) << "video bytes";
    }

    // A source that hands out a grey frame of frameWidth x 90 and counts its runs.
    FrameSource Source()
    {
        return [this](const std::string& path, EngineFrame& frame) {
            ++runs;
            lastPath = path;
            if (result != FrameResult::Image)
                return result;
            uint8_t header[kEngineImageHeaderSize];
            frame.pixels.assign(MakeEngineBitmapHeader(frameWidth, 90, header), 0x80);
            frame.header.assign(header, header + sizeof header);
            return FrameResult::Image;
        };
    }
    CThumbnailMaker Maker()
    {
        return CThumbnailMaker([this] { return services; }, Source());
    }

    vembatest::TempFolder folder { "vemba-thumbmaker" };
    std::string root, services, video, lastPath;
    std::atomic<int> runs { 0 };
    FrameResult result = FrameResult::Image;
    int frameWidth = 160;
};

bool JpegOfSize(const std::string& path, int wantWidth, int wantHeight)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    tjhandle tj = tjInitDecompress();
    int width = 0, height = 0, sub = 0, space = 0;
    const int rc = tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(bytes.data()),
        bytes.size(), &width, &height, &sub, &space);
    tjDestroy(tj);
    return rc == 0 && width == wantWidth && height == wantHeight;
}

} // namespace

TEST_F(ThumbnailMaking, EngineFailuresLeaveNoFileAndAreTriedAgain)
{
    const CThumbnailMaker maker = Maker();
    const std::string file = services + "/Movies/clip.avi_s.jpg";
    // No picture: the name comes back, but nothing is stored.
    result = FrameResult::NoImage;
    EXPECT_EQ(maker.Make(video, "64", "50", "", "Movies/clip.avi"), file);
    EXPECT_FALSE(fs::exists(file));
    // No engine at all: empty.
    result = FrameResult::EngineFailed;
    EXPECT_EQ(maker.Make(video, "64", "50", "", "Movies/clip.avi"), "");
    // A frame 1024 wide is refused, 1023 accepted.
    result = FrameResult::Image;
    frameWidth = 1024;
    EXPECT_EQ(maker.Make(video, "64", "50", "", "Movies/clip.avi"), file);
    EXPECT_FALSE(fs::exists(file));
    frameWidth = 1023;
    EXPECT_EQ(maker.Make(video, "64", "50", "", "Movies/clip.avi"), file);
    EXPECT_TRUE(JpegOfSize(file, 64, 50));
    EXPECT_EQ(lastPath, video);
    // Stored now: returned as it is, with no engine run.
    EXPECT_EQ(maker.Make(video, "64", "50", "", "Movies/clip.avi"), file);
    EXPECT_EQ(runs.load(), 4);
}

TEST_F(ThumbnailMaking, UnusableRequestsStartNoEngine)
{
    const CThumbnailMaker maker = Maker();
    for (const char* size : { "0", "-5", "abc", "5000" })
        EXPECT_EQ(maker.Make(video, size, "50", "", "Movies/clip.avi"), "") << size;
    EXPECT_EQ(maker.Make(root + "/missing.avi", "64", "50", "", "Movies/missing.avi"), "");
    EXPECT_EQ(maker.Make(root, "64", "50", "", "Movies/folder.avi"), ""); // not a file
    for (const char* name : { "", "/etc/x.avi", "Movies/../../x.avi", "Movies//x.avi", ".." })
        EXPECT_EQ(maker.Make(video, "64", "50", "", name), "") << name;
    EXPECT_EQ(runs.load(), 0);
    EXPECT_TRUE(fs::is_empty(services));
}
