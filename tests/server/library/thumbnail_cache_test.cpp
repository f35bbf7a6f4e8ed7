// The thumbnail cache: kept across runs, bounded by its least recently used pictures,
// and trimmed in the background as a server makes pictures.

#include "library/thumbnail.h"
#include "library/thumbnail_cache.h"
#include "library/thumbnail_image.h"
#include "support/test_support.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class ThumbnailCacheTest : public ::testing::Test {
protected:
    // A picture of size bytes, last used `age` minutes ago.
    std::string Picture(const std::string& name, size_t size, int age)
    {
        fs::path path = m_services + "/Movies/" + name;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << std::string(size, 'x');
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(age));
        return path;
    }
    uint64_t PictureBytes() const
    {
        uint64_t total = 0;
        for (const auto& entry : fs::recursive_directory_iterator(m_services))
            if (entry.is_regular_file() && IsThumbnailPicture(entry.path().filename()))
                total += entry.file_size();
        return total;
    }

    vembatest::TempFolder m_folder { "vemba-thumbcache" };
    std::string m_services = m_folder.Path() + "/Services";
    std::atomic<bool> m_running { false };
};

TEST_F(ThumbnailCacheTest, TheLeastRecentlyUsedPicturesGoDownToNineTenthsOfTheLimit)
{
    std::vector<std::string> pictures;
    for (int i = 0; i < 10; ++i)
        pictures.push_back(Picture("clip" + std::to_string(i) + ".avi_s.jpg", 1000, 100 - i));
    // Work files and list files are no pictures, whatever their age.
    std::string segment = Picture("../0123456789ABCDEF0123456789ABCDEF/vemba-1-1.ts", 9000, 500);
    std::string listFile = Picture("../fil0123.tmp", 9000, 500);

    EXPECT_EQ(TrimThumbnailCache(m_services, 10000, m_running), 10000u) << "at the limit";
    EXPECT_EQ(PictureBytes(), 10000u);

    EXPECT_EQ(TrimThumbnailCache(m_services, 5000, m_running), 4000u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(fs::exists(pictures[i]), i >= 6) << pictures[i];
    EXPECT_TRUE(fs::exists(segment));
    EXPECT_TRUE(fs::exists(listFile));
}

TEST_F(ThumbnailCacheTest, APictureServedFromTheCacheIsKept)
{
    std::string old = Picture("old.avi_l.jpg", 1000, 300);
    std::string newer = Picture("newer.avi_l.jpg", 1000, 200);
    std::string newest = Picture("newest.avi_s.jpg", 1000, 100);
    MarkThumbnailUsed(old);
    TrimThumbnailCache(m_services, 2500, m_running);
    EXPECT_TRUE(fs::exists(old));
    EXPECT_FALSE(fs::exists(newer));
    EXPECT_TRUE(fs::exists(newest));
}

TEST_F(ThumbnailCacheTest, AServerMakingPicturesKeepsItsCacheWithinTheLimit)
{
    fs::create_directories(m_services);
    std::string video = m_folder.Path() + "/clip.avi";
    std::ofstream(video) << "video bytes";
    FrameSource grey = [](const std::string&, EngineFrame& frame) {
        uint8_t header[kEngineImageHeaderSize];
        frame.pixels.assign(MakeEngineBitmapHeader(160, 90, header), 0x80);
        frame.header.assign(header, header + sizeof header);
        return FrameResult::Image;
    };
    std::atomic<uint64_t> limit { 0 }; // none while the first picture is measured
    ThumbnailService service(m_services, grey, {}, [&] { return limit.load(); });
    ASSERT_FALSE(service.QZ_MakeThumbnail(video, "64", "50", "", "Movies/first.avi").empty());
    uint64_t one = PictureBytes();
    ASSERT_GT(one, 0u);
    service.WaitForCacheTrim();
    limit = one * 3 + one / 2;

    for (int i = 0; i < 12; ++i)
        ASSERT_FALSE(
            service.QZ_MakeThumbnail(video, "64", "50", "", "Movies/c" + std::to_string(i) + ".avi")
                .empty());
    service.WaitForCacheTrim();
    // Pictures made within one tick of the file clock have one time, so which of them
    // go is not ordered here; the order of use is (the tests above).
    EXPECT_LE(PictureBytes(), limit.load());
    EXPECT_GT(PictureBytes(), 0u);
    service.Shutdown();
}

} // namespace
