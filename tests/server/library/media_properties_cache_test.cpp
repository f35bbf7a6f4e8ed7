// The media properties cache: exact values back, a changed file read again, a
// damaged or deleted database replaced, several threads at once, and reads through
// the real MediaInfo helper that give the same answers with and without it.

#include "library/folder_listing.h"
#include "library/library_context.h"
#include "library/media_properties.h"
#include "library/media_properties_cache.h"
#include "media_samples.h"
#include "server/platform/temp_folder.h"
#include "support/test_server.h"

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

MediaProperties OddProperties()
{
    MediaProperties p;
    p.fileSize = 5000000000LL;
    p.durationMs = 7261234;
    p.codecId = std::string("avc1\0x", 6);
    p.frameRate = 24000.0 / 1001.0;
    p.width = 1920;
    p.height = 1080;
    p.videoFormat = "AVC";
    p.audioId = "\xff\xfe not text";
    p.audioFormat = "AAC";
    p.videoProfile = "High@L4.1";
    p.videoLevel = "4.1";
    p.rotation = 270;
    return p;
}

void ExpectSame(const MediaProperties& a, const MediaProperties& b)
{
    EXPECT_EQ(a.fileSize, b.fileSize);
    EXPECT_EQ(a.durationMs, b.durationMs);
    EXPECT_EQ(a.codecId, b.codecId);
    // Bit for bit: the frame rate reaches command lines as text.
    EXPECT_EQ(std::memcmp(&a.frameRate, &b.frameRate, sizeof(double)), 0);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.videoFormat, b.videoFormat);
    EXPECT_EQ(a.audioId, b.audioId);
    EXPECT_EQ(a.audioFormat, b.audioFormat);
    EXPECT_EQ(a.videoProfile, b.videoProfile);
    EXPECT_EQ(a.videoLevel, b.videoLevel);
    EXPECT_EQ(a.rotation, b.rotation);
}

bool IsSqliteFile(const std::string& path)
{
    return ReadBytes(path).starts_with(std::string("SQLite format 3\0", 16));
}

class MediaCacheTest : public ::testing::Test {
protected:
    std::string Database() const { return m_folder / "MediaProperties.sqlite"; }
    TempFolder m_folder;
    const MediaFileStamp m_stamp { 1234, 1700000000123456789LL };
};

TEST_F(MediaCacheTest, EveryValueComesBackExactlyAfterARestart)
{
    {
        MediaPropertiesCache cache(Database());
        cache.Store("/films/a.mp4", m_stamp, { true, OddProperties() });
        cache.Store("/films/broken.mp4", m_stamp, { false, {} });
    }
    MediaPropertiesCache restarted(Database());
    auto kept = restarted.Find("/films/a.mp4", m_stamp);
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->opened);
    ExpectSame(kept->properties, OddProperties());

    auto unreadable = restarted.Find("/films/broken.mp4", m_stamp);
    ASSERT_TRUE(unreadable);
    EXPECT_FALSE(unreadable->opened);
    EXPECT_FALSE(restarted.Find("/films/other.mp4", m_stamp));
}

TEST_F(MediaCacheTest, AnotherSizeOrModificationTimeIsNotFound)
{
    MediaPropertiesCache cache(Database());
    cache.Store("/films/a.mp4", m_stamp, { true, OddProperties() });
    EXPECT_FALSE(cache.Find("/films/a.mp4", { m_stamp.size + 1, m_stamp.modifiedNs }));
    EXPECT_FALSE(cache.Find("/films/a.mp4", { m_stamp.size, m_stamp.modifiedNs + 1 }));

    // The new version replaces the old one rather than piling up beside it.
    MediaProperties changed = OddProperties();
    changed.width = 640;
    const MediaFileStamp newer { m_stamp.size, m_stamp.modifiedNs + 1 };
    cache.Store("/films/a.mp4", newer, { true, changed });
    EXPECT_FALSE(cache.Find("/films/a.mp4", m_stamp));
    ASSERT_TRUE(cache.Find("/films/a.mp4", newer));
    EXPECT_EQ(cache.Find("/films/a.mp4", newer)->properties.width, 640);
}

TEST_F(MediaCacheTest, ADatabaseSwappedOrDeletedWhileInUseIsMadeAgain)
{
    // Another file moved over it (a restored backup, say, here a bad one), or the
    // files removed by hand.
    std::string damaged(16384, '\0');
    for (size_t i = 0; i < damaged.size(); ++i)
        damaged[i] = char(i * 7);
    for (bool swap : { true, false }) {
        MediaPropertiesCache cache(Database());
        cache.Store("/films/a.mp4", m_stamp, { true, OddProperties() });
        if (swap) {
            WriteBytes(Database() + ".new", damaged);
            fs::rename(Database() + ".new", Database());
        } else {
            fs::remove(Database());
        }
        fs::remove(Database() + "-wal");
        fs::remove(Database() + "-shm");

        EXPECT_FALSE(cache.Find("/films/a.mp4", m_stamp)) << swap;
        EXPECT_TRUE(IsSqliteFile(Database())) << swap;
        cache.Store("/films/b.mp4", m_stamp, { true, OddProperties() });
        MediaPropertiesCache restarted(Database());
        EXPECT_TRUE(restarted.Find("/films/b.mp4", m_stamp)) << swap;
    }
}

TEST_F(MediaCacheTest, AnUnusablePlaceMeansNoCachingAndNoHarm)
{
    MediaPropertiesCache missingFolder(m_folder / "no/such/folder/cache.sqlite");
    missingFolder.Store("/films/a.mp4", m_stamp, { true, OddProperties() });
    EXPECT_FALSE(missingFolder.Find("/films/a.mp4", m_stamp));

    // A folder where the file should be is not somebody's database to delete.
    fs::create_directory(Database());
    MediaPropertiesCache folder(Database());
    folder.Store("/films/a.mp4", m_stamp, { true, OddProperties() });
    EXPECT_FALSE(folder.Find("/films/a.mp4", m_stamp));
    EXPECT_TRUE(fs::is_directory(Database()));
}

TEST_F(MediaCacheTest, ManyThreadsReadAndWriteAtOnce)
{
    MediaPropertiesCache cache(Database());
    constexpr int kThreads = 6;
    constexpr int kFiles = 60;
    std::atomic<int> wrongValues { 0 };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kFiles; ++i) {
                // Threads share every other path and write the same values there.
                const int file = (i % 2 == 0) ? i : 1000 * (t + 1) + i;
                const std::string path = "/films/" + std::to_string(file) + ".mp4";
                MediaProperties p = OddProperties();
                p.width = file;
                cache.Store(path, m_stamp, { true, p });
                auto kept = cache.Find(path, m_stamp);
                if (!kept || kept->properties.width != file)
                    ++wrongValues;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrongValues.load(), 0);

    MediaPropertiesCache restarted(Database());
    for (int t = 0; t < kThreads; ++t)
        for (int i = 1; i < kFiles; i += 2) {
            const int file = 1000 * (t + 1) + i;
            auto kept = restarted.Find("/films/" + std::to_string(file) + ".mp4", m_stamp);
            ASSERT_TRUE(kept) << file;
            EXPECT_EQ(kept->properties.width, file);
        }
}

// Reads through the real MediaInfo helper of a server, with the cache in a test folder.
class CachedMediaReadTest : public ::testing::Test {
protected:
    void SetUp() override { Media().SetCacheFile(m_folder / "cache.sqlite"); }

    MediaPropertiesReader& Media() { return m_server.Media(); }
    bool ReadMediaProperties(const std::string& path, MediaProperties& out)
    {
        return Media().ReadMediaProperties(path, out);
    }
    MediaReadResult ReadMediaPropertiesResult(const std::string& path, MediaProperties& out)
    {
        return Media().ReadMediaPropertiesResult(path, out);
    }
    void SetCacheFile(const std::string& file) { Media().SetCacheFile(file); }

    // A clip of this test's own (not a link to the shared one), so it may change.
    std::string OwnClip(const std::string& name, const ClipRecipe& recipe = ClipRecipe())
    {
        const std::string path = m_folder / name;
        const std::string shared = path + ".shared" + fs::path(name).extension().string();
        EXPECT_TRUE(PlaceClip(shared, recipe));
        fs::copy_file(shared, path);
        fs::remove(shared);
        return path;
    }

    // Plants values no reader would give, so an answer that carries them came
    // from the cache and nothing was read.
    void PlantMarker(const std::string& path)
    {
        MediaFileStamp stamp;
        ASSERT_TRUE(StampRegularFile(path, stamp));
        MediaProperties marker = OddProperties();
        marker.width = 4321;
        Media().Cache()->Store(path, stamp, { true, marker });
    }

    TempFolder m_folder;
    vembatest::TestDataFolder m_data { "mediacache" };
    LibraryContext m_server { m_data.Parts() };
};

TEST(ServerMediaCache, EachServerKeepsItsCacheInItsOwnDataFolder)
{
    vembatest::TestDataFolder first("mediacache"), second("mediacache");
    LibraryContext one(first.Parts()), two(second.Parts());
    ASSERT_TRUE(one.Media().Cache());
    ASSERT_TRUE(two.Media().Cache());
    EXPECT_EQ(one.Media().Cache()->DatabaseFile(), first.DataFolder() + "/MediaProperties.sqlite");
    EXPECT_EQ(two.Media().Cache()->DatabaseFile(), second.DataFolder() + "/MediaProperties.sqlite");
    one.Media().SetCacheFile("");
    EXPECT_FALSE(one.Media().Cache());
    EXPECT_TRUE(two.Media().Cache());
}

TEST_F(CachedMediaReadTest, AWarmReadReadsNothing)
{
    const std::string clip = OwnClip("film.mp4");
    MediaProperties first;
    ASSERT_TRUE(ReadMediaProperties(clip, first));
    EXPECT_EQ(first.width, 160);
    PlantMarker(clip);
    MediaProperties warm;
    ASSERT_TRUE(ReadMediaProperties(clip, warm));
    EXPECT_EQ(warm.width, 4321);
}

TEST_F(CachedMediaReadTest, ANewModificationTimeOrSizeIsReadAgain)
{
    const std::string clip = OwnClip("film.mp4");
    PlantMarker(clip);
    struct stat info { };
    ASSERT_EQ(stat(clip.c_str(), &info), 0);
    timespec times[2] = { info.st_atim, info.st_mtim };
    times[1].tv_sec -= 3600;
    ASSERT_EQ(utimensat(AT_FDCWD, clip.c_str(), times, 0), 0);
    MediaProperties properties;
    ASSERT_TRUE(ReadMediaProperties(clip, properties));
    EXPECT_EQ(properties.width, 160);

    // Same modification time, other bytes: the size alone must tell.
    PlantMarker(clip);
    ASSERT_EQ(stat(clip.c_str(), &info), 0);
    WriteBytes(clip, ReadBytes(clip) + std::string(4096, '\0'));
    timespec same[2] = { info.st_atim, info.st_mtim };
    ASSERT_EQ(utimensat(AT_FDCWD, clip.c_str(), same, 0), 0);
    ASSERT_TRUE(ReadMediaProperties(clip, properties));
    EXPECT_EQ(properties.width, 160);
    EXPECT_EQ(properties.fileSize, info.st_size + 4096);
}

TEST_F(CachedMediaReadTest, AnswersAreTheSameWithAndWithoutTheCache)
{
    const std::string aac = OwnClip("aac.mp4");
    const std::string ac3 = OwnClip("ac3.mp4", ClipRecipe().Audio("ac3"));
    const std::string text = m_folder / "text.mp4";
    WriteBytes(text, "no movie here");
    for (const std::string& path : { aac, ac3, text }) {
        SetCacheFile("");
        MediaProperties uncached, cold, warm;
        MediaReadResult expected = ReadMediaPropertiesResult(path, uncached);
        SetCacheFile(m_folder / "cache.sqlite");
        EXPECT_EQ(ReadMediaPropertiesResult(path, cold), expected) << path;
        EXPECT_EQ(ReadMediaPropertiesResult(path, warm), expected) << path;
        ExpectSame(cold, uncached);
        ExpectSame(warm, uncached);
    }
}

TEST_F(CachedMediaReadTest, AListingIsTheSameColdWarmAndUncached)
{
    const std::string share = m_folder / "share";
    fs::create_directories(share + "/Kids");
    OwnClip("share/one.mp4");
    OwnClip("share/two.avi", ClipRecipe().Video("mpeg4").Audio("mp3"));
    WriteBytes(share + "/two.smi", "<SAMI></SAMI>");
    const std::string services = m_folder / "Services";

    SetCacheFile("");
    const std::string uncached
        = BuildFolderListing(Media(), share + "/", "/Films", share, services).document;
    SetCacheFile(m_folder / "cache.sqlite");
    const std::string cold
        = BuildFolderListing(Media(), share + "/", "/Films", share, services).document;
    const std::string warm
        = BuildFolderListing(Media(), share + "/", "/Films", share, services).document;
    EXPECT_NE(uncached.find("160x120"), std::string::npos);
    EXPECT_EQ(cold, uncached);
    EXPECT_EQ(warm, uncached);
}

TEST_F(CachedMediaReadTest, ADamagedDatabaseInUseNeverStopsAReadAndIsRebuilt)
{
    const std::string clip = OwnClip("film.mp4");
    const std::string database = m_folder / "cache.sqlite";
    WriteBytes(database, "this is not a database, whatever it claims to be");
    MediaProperties properties;
    ASSERT_TRUE(ReadMediaProperties(clip, properties));
    EXPECT_EQ(properties.width, 160);
    EXPECT_TRUE(IsSqliteFile(database));
    MediaFileStamp stamp;
    ASSERT_TRUE(StampRegularFile(clip, stamp));
    EXPECT_TRUE(MediaPropertiesCache(database).Find(clip, stamp));
}

} // namespace
