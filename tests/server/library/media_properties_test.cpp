// Media properties through the real MediaInfo library, on clips the test makes.

#include "library/library_context.h"
#include "library/media_info_binding.h"
#include "library/media_properties.h"
#include "media_samples.h"
#include "server/platform/temp_folder.h"
#include "support/test_server.h"

#include <chrono>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

class MediaPropertiesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_folder = new TempFolder;
        ASSERT_TRUE(PlaceClip(*s_folder / "h264_aac.mp4"));
        ASSERT_TRUE(PlaceClip(*s_folder / "h264_ac3.mp4", ClipRecipe().Audio("ac3")));
        ASSERT_TRUE(PlaceClip(*s_folder / "h264_silent.mp4", ClipRecipe().Audio("")));
        ASSERT_TRUE(PlaceClip(*s_folder / "mpeg4.avi", ClipRecipe().Video("mpeg4").Audio("mp3")));
        ASSERT_TRUE(PlaceClip(*s_folder / "\xEC\x98\x81\xED\x99\x94 clip.mkv"));
    }
    static void TearDownTestSuite()
    {
        delete s_folder;
        s_folder = nullptr;
    }
    // Every read goes to a reader helper: no cache answers in its place.
    void SetUp() override { Media().SetCacheFile(""); }

    static std::string Path(const std::string& name) { return *s_folder / name; }
    MediaPropertiesReader& Media() { return m_server.Media(); }
    bool ReadMediaProperties(const std::string& path, MediaProperties& out)
    {
        return Media().ReadMediaProperties(path, out);
    }

    static TempFolder* s_folder;
    vembatest::TestDataFolder m_data { "mediaproperties" };
    LibraryContext m_server { m_data.Parts() };
};
TempFolder* MediaPropertiesTest::s_folder = nullptr;

TEST_F(MediaPropertiesTest, ReadsH264WithAac)
{
    MediaProperties properties;
    ASSERT_TRUE(ReadMediaProperties(Path("h264_aac.mp4"), properties));
    EXPECT_EQ(properties.fileSize,
        static_cast<int64_t>(std::filesystem::file_size(Path("h264_aac.mp4"))));
    EXPECT_NEAR(properties.durationMs, 2000, 100);
    EXPECT_EQ(properties.width, 160);
    EXPECT_EQ(properties.height, 120);
    EXPECT_DOUBLE_EQ(properties.frameRate, 24.0);
    EXPECT_EQ(properties.videoFormat, "AVC");
    EXPECT_EQ(properties.audioFormat, "AAC");
    EXPECT_FALSE(properties.audioId.empty());
    EXPECT_FALSE(properties.codecId.empty());
    EXPECT_TRUE(IsDirectPlayableMedia(properties));
    // What a browser's playlist names the stream by, and how it stands.
    EXPECT_TRUE(properties.videoProfile.starts_with("High")) << properties.videoProfile;
    EXPECT_EQ(properties.rotation, 0);
}

TEST_F(MediaPropertiesTest, DirectPlayNeedsAacAudioOrNone)
{
    MediaProperties ac3;
    ASSERT_TRUE(ReadMediaProperties(Path("h264_ac3.mp4"), ac3));
    EXPECT_EQ(ac3.audioFormat, "AC-3");
    EXPECT_FALSE(IsDirectPlayableMedia(ac3));

    MediaProperties silent;
    ASSERT_TRUE(ReadMediaProperties(Path("h264_silent.mp4"), silent));
    EXPECT_TRUE(silent.audioId.empty());
    EXPECT_TRUE(IsDirectPlayableMedia(silent));

    MediaProperties avi;
    ASSERT_TRUE(ReadMediaProperties(Path("mpeg4.avi"), avi));
    EXPECT_NE(avi.videoFormat, "AVC");
    EXPECT_FALSE(IsDirectPlayableMedia(avi));
}

TEST_F(MediaPropertiesTest, ReadsNamesBeyondAscii)
{
    MediaProperties properties;
    ASSERT_TRUE(ReadMediaProperties(Path("\xEC\x98\x81\xED\x99\x94 clip.mkv"), properties));
    EXPECT_EQ(properties.width, 160);
}

TEST_F(MediaPropertiesTest, WhatIsNotAReadableFileGivesNothing)
{
    WriteBytes(Path("notes.mp4"), "this is no movie at all");
    std::filesystem::create_directory(Path("folder.mp4"));
    for (const char* name : { "missing.mp4", "folder.mp4" }) {
        MediaProperties properties;
        properties.width = 99;
        EXPECT_FALSE(ReadMediaProperties(Path(name), properties)) << name;
        EXPECT_EQ(properties.width, 0) << name;
    }
    MediaProperties text;
    if (ReadMediaProperties(Path("notes.mp4"), text)) {
        EXPECT_TRUE(text.videoFormat.empty());
    }
}

TEST_F(MediaPropertiesTest, AFileThatMakesMediaInfoSpinCostsOnlyTheTimeout)
{
    ASSERT_TRUE(MakeSpinningMp4(Path("spin.mp4")));
    Media().SetMediaReadTimeout(std::chrono::milliseconds(1500));
    auto started = std::chrono::steady_clock::now();
    MediaProperties properties;
    EXPECT_FALSE(ReadMediaProperties(Path("spin.mp4"), properties));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    // The next file reads as usual.
    EXPECT_TRUE(ReadMediaProperties(Path("h264_aac.mp4"), properties));
}

TEST_F(MediaPropertiesTest, BothFormsOfGetMovieProperty)
{
    std::string codecId;
    double frameRate = 0;
    int width = 0, height = 0;
    EXPECT_EQ(Media().GetMovieProperty(Path("h264_aac.mp4"), codecId, frameRate, width, height), 1);
    EXPECT_FALSE(codecId.empty());
    EXPECT_DOUBLE_EQ(frameRate, 24.0);
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 120);

    int duration = 0;
    EXPECT_EQ(Media().GetMovieProperty(
                  codecId, frameRate, Path("h264_silent.mp4"), duration, width, height),
        1);
    EXPECT_NEAR(duration, 2000, 100);
    EXPECT_EQ(
        Media().GetMovieProperty(codecId, frameRate, Path("missing.mp4"), duration, width, height),
        0);
    EXPECT_EQ(Media().GetMovieProperty(Path("missing.mp4"), codecId, frameRate, width, height), 0);
}

TEST_F(MediaPropertiesTest, WithoutTheModuleNothingIsReadAndTheNextUseBindsAgain)
{
    // The server's helpers take the module name from the server; the binding in this
    // process is told apart.
    Media().SetLibraryName("libvembacast-no-such-mediainfo.so.0");
    mediainfo::SetLibraryNameForTesting("libvembacast-no-such-mediainfo.so.0");
    MediaProperties properties;
    EXPECT_FALSE(ReadMediaProperties(Path("h264_aac.mp4"), properties));
    EXPECT_FALSE(mediainfo::EnsureBound());
    mediainfo::Handle handle(mediainfo::GetApi());
    EXPECT_FALSE(handle.IsValid());
    EXPECT_FALSE(handle.Open(L"/nowhere"));
    EXPECT_EQ(handle.Get(mediainfo::kStreamGeneral, L"Duration"), mediainfo::kUnboundText);

    Media().SetLibraryName(mediainfo::kDefaultLibraryName);
    mediainfo::SetLibraryNameForTesting(mediainfo::kDefaultLibraryName);
    EXPECT_TRUE(ReadMediaProperties(Path("h264_aac.mp4"), properties));
}

TEST(MediaInfoBinding, TheWholeEntryPointSetIsInTheLibrary)
{
    size_t count = 0;
    const char* const* names = mediainfo::EntryPointNames(count);
    EXPECT_EQ(count, 28u);
    void* module = dlopen("libmediainfo.so.0", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr);
    for (size_t i = 0; i < count; ++i)
        EXPECT_NE(dlsym(module, names[i]), nullptr) << names[i];
    dlclose(module);
}

TEST(MediaValues, LeadingDigitsParsing)
{
    EXPECT_EQ(ParseLeadingInteger("2000"), 2000);
    EXPECT_EQ(ParseLeadingInteger("2000.750"), 2000);
    EXPECT_EQ(ParseLeadingInteger(" 12 px"), 12);
    EXPECT_EQ(ParseLeadingInteger(""), 0);
    EXPECT_EQ(ParseLeadingInteger("abc"), 0);
    EXPECT_EQ(ParseLeadingInteger("-5"), -5);
    EXPECT_EQ(ParseLeadingInteger("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(ParseLeadingInteger("3221225472"), 3221225472LL);
}

TEST(MediaValues, PlayTimeText)
{
    EXPECT_EQ(FormatPlayTime(0), "00:00:00");
    EXPECT_EQ(FormatPlayTime(999), "00:00:00");
    EXPECT_EQ(FormatPlayTime(3723000), "01:02:03");
    EXPECT_EQ(FormatPlayTime(59999), "00:00:59");
    EXPECT_EQ(FormatPlayTime(100LL * 3600000), "100:00:00");
}

} // namespace
