#include "streaming/segment_request.h"
#include "streaming/segment_wait.h"

#include <functional>
#include <gtest/gtest.h>
#include <set>

TEST(LiveRequestPath, SplitsIdAndName)
{
    auto path = ParseLiveRequestPath("/file/ABC123/vemba-1-7.ts", "/file/");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->clientId, "ABC123");
    EXPECT_EQ(path->name, "vemba-1-7.ts");
    EXPECT_EQ(WorkFileOf("/srv", *path), "/srv/ABC123/vemba-1-7.ts");
}

TEST(LiveRequestPath, RefusesWhatCouldLeaveTheWorkFolder)
{
    for (const char* uri : { "/file/", "/file/ABC", "/file/ABC/", "/file//x.ts", "/file/../x.ts",
             "/file/ABC/..", "/file/ABC/sub/x.ts", "/file/./x.ts", "/list/ABC/x.ts" }) {
        EXPECT_FALSE(ParseLiveRequestPath(uri, "/file/")) << uri;
    }
}

TEST(SegmentName, ParsesOnlyTheEnginesNames)
{
    auto name = ParseSegmentName("vemba-3-120.ts");
    ASSERT_TRUE(name);
    EXPECT_EQ(name->variant, 3);
    EXPECT_EQ(name->segment, 120);
    for (const char* bad : { "vemba-1-0.ts", "vemba-1--5.ts", "vemba-1-99999999999.ts",
             "vemba-1-.ts", "vemba--1.ts", "vemba-1-2.ts.part", "vemba-1-2", "vemba-1-x.ts",
             "vemba-1-+2.ts", "files.m3u8", "Vemba-1-2.ts", "vemba-1-2-3.ts" }) {
        EXPECT_FALSE(ParseSegmentName(bad)) << bad;
    }
    EXPECT_EQ(ParseSegmentName("vemba-1-999999999.ts")->segment, 999999999);
}

TEST(PlaylistName, VariantDigit)
{
    EXPECT_EQ(ParseVariantPlaylistName("movie1.m3u8"), 1);
    EXPECT_EQ(ParseVariantPlaylistName("movie6.m3u8"), 6);
    EXPECT_EQ(ParseVariantPlaylistName("movie7.m3u8"), 7); // a browser's
    EXPECT_EQ(ParseVariantPlaylistName("movie10.m3u8"), 10);
    EXPECT_FALSE(ParseVariantPlaylistName("movie11.m3u8"));
    EXPECT_FALSE(ParseVariantPlaylistName("movie01.m3u8"));
    EXPECT_FALSE(ParseVariantPlaylistName("movie0.m3u8"));
    EXPECT_FALSE(ParseVariantPlaylistName("movie.m3u8"));
    EXPECT_FALSE(ParseVariantPlaylistName("movieX.m3u8"));
    EXPECT_FALSE(ParseVariantPlaylistName("files.m3u8"));
    EXPECT_TRUE(IsPlaylistName("files.m3u8"));
    EXPECT_TRUE(IsPlaylistName("movie2.m3u8"));
    EXPECT_FALSE(IsPlaylistName("vemba-1-1.ts"));
    EXPECT_FALSE(IsPlaylistName("movie1.m3u8.tmp"));
}

namespace {

// A clock that only moves when slept on.
class FakeClock final : public Clock {
public:
    TimePoint Now() override { return m_now; }
    void Sleep(std::chrono::milliseconds pause) override
    {
        m_now += pause;
        ++sleeps;
        if (onSleep)
            onSleep();
    }
    int sleeps = 0;
    std::function<void()> onSleep;

private:
    TimePoint m_now {};
};

class FakeSource final : public SegmentSource {
public:
    bool SegmentExists(int segment) override
    {
        looked.insert(segment);
        return made.count(segment) != 0;
    }
    Verdict WhileMissing() override
    {
        if (madeWhenAsked) {
            made.insert(madeWhenAsked);
            madeWhenAsked = 0;
        }
        return verdict;
    }
    std::set<int> made;
    std::set<int> looked;
    Verdict verdict = Verdict::KeepWaiting;
    int madeWhenAsked = 0; // a segment the engine writes just as it ends
};

constexpr std::chrono::milliseconds kLimit { 60000 };

} // namespace

TEST(SegmentWait, ServesOnceTheSegmentAndTwoMoreExist)
{
    FakeClock clock;
    FakeSource source;
    source.made = { 1, 2 };
    clock.onSleep = [&] {
        if (clock.sleeps == 50)
            source.made.insert(3);
    };
    EXPECT_EQ(WaitForSegments(1, 100, source, clock, kLimit), SegmentWait::Ready);
    EXPECT_EQ(clock.sleeps, 50);
    EXPECT_EQ(source.looked, (std::set<int> { 1, 2, 3 }));
}

TEST(SegmentWait, TheLastSegmentIsServedAlone)
{
    FakeClock clock;
    FakeSource source;
    source.made = { 12 };
    EXPECT_EQ(WaitForSegments(12, 12, source, clock, kLimit), SegmentWait::Ready);
    source.made = { 11, 12 };
    EXPECT_EQ(WaitForSegments(11, 12, source, clock, kLimit), SegmentWait::Ready);
    EXPECT_EQ(clock.sleeps, 0);
}

TEST(SegmentWait, GivesUpWhenPlayEndedOrANewerSeekWaits)
{
    FakeClock clock;
    FakeSource source;
    source.made = { 5 };
    source.verdict = SegmentSource::Verdict::GiveUp;
    EXPECT_EQ(WaitForSegments(5, 100, source, clock, kLimit), SegmentWait::GaveUp);
    EXPECT_EQ(clock.sleeps, 0);
}

TEST(SegmentWait, WithTheEngineGoneWhatExistsIsServedAndTheRestIsNot)
{
    FakeClock clock;
    FakeSource ended;
    ended.made = { 7 };
    ended.verdict = SegmentSource::Verdict::EngineGone;
    EXPECT_EQ(WaitForSegments(7, 100, ended, clock, kLimit), SegmentWait::Ready);

    FakeSource missing;
    missing.verdict = SegmentSource::Verdict::EngineGone;
    EXPECT_EQ(WaitForSegments(7, 100, missing, clock, kLimit), SegmentWait::GaveUp);

    FakeSource lastWrite; // the engine wrote segment 7 and ended between two looks
    lastWrite.verdict = SegmentSource::Verdict::EngineGone;
    lastWrite.madeWhenAsked = 7;
    EXPECT_EQ(WaitForSegments(7, 100, lastWrite, clock, kLimit), SegmentWait::Ready);
    EXPECT_EQ(clock.sleeps, 0);
}

TEST(SegmentWait, StallIsBoundedButProgressExtendsIt)
{
    FakeClock clock;
    FakeSource source;
    EXPECT_EQ(WaitForSegments(1, 100, source, clock, kLimit), SegmentWait::TimedOut);
    EXPECT_EQ(clock.sleeps, 6000);

    // A segment every 50 s: slow, but never stalled for the whole limit.
    FakeClock slowClock;
    FakeSource slow;
    slowClock.onSleep = [&] {
        if (slowClock.sleeps % 5000 == 0)
            slow.made.insert(static_cast<int>(slow.made.size()) + 1);
    };
    EXPECT_EQ(WaitForSegments(1, 100, slow, slowClock, kLimit), SegmentWait::Ready);
    EXPECT_EQ(slowClock.sleeps, 15000);
}
