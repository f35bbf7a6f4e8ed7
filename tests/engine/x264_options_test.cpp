#include "engine/x264_options.h"

#include <gtest/gtest.h>
#include <map>

namespace {

std::map<std::string, std::string> AsMap(const X264Settings& settings)
{
    return { settings.params.begin(), settings.params.end() };
}

} // namespace

TEST(X264Options, LiveTemplateMapsToX264Names)
{
    X264Settings settings
        = MapX264Options("bitrate=576:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:"
                         "trellis=0:weightp=0:nocabac:no8x8dct:bframes=0:frameref=1:threads=auto:"
                         "keyint=24");
    std::map<std::string, std::string> params = AsMap(settings);
    EXPECT_EQ(params["bitrate"], "576");
    EXPECT_EQ(params["level"], "21");
    EXPECT_EQ(params["mbtree"], "false");
    EXPECT_EQ(params["me"], "dia");
    EXPECT_EQ(params["mixed-refs"], "false");
    EXPECT_EQ(params["subme"], "0");
    EXPECT_EQ(params["cabac"], "false");
    EXPECT_EQ(params["8x8dct"], "false");
    EXPECT_EQ(params["bframes"], "0");
    EXPECT_EQ(params["ref"], "1");
    EXPECT_EQ(params["keyint"], "24");
    EXPECT_EQ(settings.bitrateKbps, 576);
    EXPECT_EQ(settings.threads, 0);
    EXPECT_FALSE(settings.globalHeader);
    EXPECT_TRUE(settings.notes.empty()) << settings.notes.front();
    EXPECT_EQ(JoinX264Params({ { "a", "1" }, { "b", "x" } }), "a=1:b=x");
}

TEST(X264Options, ConversionTemplateAsksForGlobalHeaderAndThreadCount)
{
    X264Settings settings = MapX264Options("global_header:bitrate=1000:threads=2");
    EXPECT_TRUE(settings.globalHeader);
    EXPECT_EQ(settings.threads, 2);
    EXPECT_EQ(settings.bitrateKbps, 1000);
    EXPECT_EQ(AsMap(settings).count("global_header"), 0u);
}

TEST(X264Options, NothingWhenEmptyOrAnOption)
{
    EXPECT_TRUE(MapX264Options("").params.empty());
    EXPECT_TRUE(MapX264Options("-oac").params.empty());
    EXPECT_EQ(MapX264Options("-oac").bitrateKbps, 0);
}

TEST(X264Options, RefusedEntriesAreDroppedWithANote)
{
    X264Settings settings = MapX264Options("bitrate=300:frobnicate=3:me=warp::turbo=1:keyint=12");
    std::map<std::string, std::string> params = AsMap(settings);
    EXPECT_EQ(params.count("frobnicate"), 0u);
    EXPECT_EQ(params.count("me"), 0u);
    EXPECT_EQ(params["keyint"], "12");
    EXPECT_EQ(params.count("turbo"), 0u); // a multipass switch, silently irrelevant
    EXPECT_EQ(settings.notes.size(), 2u);
}

TEST(X264Options, PresetTuneAndProfileAreStartingPointsNotParameters)
{
    X264Settings settings = MapX264Options(
        "profile=high:preset=veryfast:tune=film,fastdecode:bitrate=6000:vbv_maxrate=9000:"
        "vbv_bufsize=12000:keyint=250:level=4.1:threads=auto");
    EXPECT_EQ(settings.profile, "high");
    EXPECT_EQ(settings.preset, "veryfast");
    EXPECT_EQ(settings.tune, "film,fastdecode");
    std::map<std::string, std::string> params = AsMap(settings);
    EXPECT_EQ(params.count("profile") + params.count("preset") + params.count("tune"), 0u);
    EXPECT_EQ(params["vbv-maxrate"], "9000");
    EXPECT_EQ(params["vbv-bufsize"], "12000");
    EXPECT_EQ(params["level"], "4.1");
    EXPECT_EQ(params["keyint"], "250");
    EXPECT_EQ(settings.bitrateKbps, 6000);
    EXPECT_TRUE(settings.notes.empty()) << settings.notes.front();

    // Names x264 does not know are dropped with a note, never passed on.
    X264Settings bad = MapX264Options("profile=ultra:preset=warp:tune=film,loud:preset");
    EXPECT_TRUE(bad.profile.empty());
    EXPECT_TRUE(bad.preset.empty());
    EXPECT_TRUE(bad.tune.empty());
    EXPECT_TRUE(bad.params.empty());
    EXPECT_EQ(bad.notes.size(), 4u);
}
