#include "engine/frame_rate.h"

#include <gtest/gtest.h>

namespace {

struct Emitted {
    int64_t slot;
    uint64_t serial;
    int64_t sourceIndex;
};

// Feeds frames at the given times; the frame's pts carries its index.
std::vector<Emitted> Convert(const std::vector<double>& times, double duration, int64_t firstSlot)
{
    FrameRateConverter converter(24, 1, firstSlot);
    std::vector<Emitted> out;
    FrameRateConverter::Emit emit = [&](const AVFrame& frame, int64_t slot, uint64_t serial) {
        out.push_back({ slot, serial, frame.pts });
        return true;
    };
    for (size_t i = 0; i < times.size(); ++i) {
        FramePtr frame = MakeFrame();
        frame->pts = static_cast<int64_t>(i);
        converter.Push(std::move(frame), times[i], duration, emit);
    }
    converter.Finish(emit);
    return out;
}

std::vector<double> Grid(double fps, int count, double start = 0)
{
    std::vector<double> times;
    for (int i = 0; i < count; ++i)
        times.push_back(start + i / fps);
    return times;
}

} // namespace

TEST(FrameRate, SlotsAreContiguousWhateverTheSourceRate)
{
    for (double fps : { 12.0, 23.976, 24.0, 25.0, 30.0, 60.0 }) {
        std::vector<Emitted> out = Convert(Grid(fps, static_cast<int>(fps * 2)), 1 / fps, 0);
        ASSERT_FALSE(out.empty());
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i].slot, static_cast<int64_t>(i)) << fps;
        EXPECT_NEAR(static_cast<double>(out.size()), 48, 1) << fps; // two seconds at 24 fps
    }
}

TEST(FrameRate, SlowSourceRepeatsFastSourceDrops)
{
    std::vector<Emitted> slow = Convert(Grid(12, 4), 1.0 / 12, 0);
    ASSERT_EQ(slow.size(), 8u);
    EXPECT_EQ(slow[0].sourceIndex, slow[1].sourceIndex);
    EXPECT_EQ(slow[0].serial, slow[1].serial);
    EXPECT_NE(slow[1].serial, slow[2].serial);

    std::vector<Emitted> fast = Convert(Grid(48, 8), 1.0 / 48, 0);
    ASSERT_EQ(fast.size(), 4u);
    for (size_t i = 0; i < fast.size(); ++i)
        EXPECT_EQ(fast[i].sourceIndex, static_cast<int64_t>(2 * i));
}

TEST(FrameRate, SeekRunStartsOnTheGlobalGrid)
{
    // Decoding starts at the key frame at 4 s; the run starts at 5 s (slot 120).
    std::vector<Emitted> out
        = Convert(Grid(25, 50, 4.0), 0.04, FrameRateConverter::FirstSlot(5, 24, 1));
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.front().slot, 120);
    EXPECT_EQ(out.front().sourceIndex, 25); // the frame at exactly 5.0 s
    EXPECT_EQ(out.back().slot, 143); // up to 6 s
    EXPECT_EQ(FrameRateConverter::FirstSlot(7.3, 24, 1), 176);
}

TEST(FrameRate, GapsRepeatButBrokenJumpsDoNotExplode)
{
    std::vector<Emitted> gap = Convert({ 0, 1.0 / 24, 1.0 }, 1.0 / 24, 0);
    ASSERT_EQ(gap.size(), 25u);
    EXPECT_EQ(gap[23].sourceIndex, 1);
    EXPECT_EQ(gap[24].sourceIndex, 2);

    std::vector<Emitted> jump = Convert({ 0, 3600 * 10 }, 1.0 / 24, 0);
    EXPECT_LT(jump.size(), 10u);
}

TEST(FrameRate, OnePictureIsShownOnceEvenPastItsEnd)
{
    EXPECT_EQ(Convert({ 0 }, 0.001, 0).size(), 1u);
    std::vector<Emitted> late = Convert({ 1.0 }, 0.04, FrameRateConverter::FirstSlot(60, 24, 1));
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].slot, 1440);
}

TEST(FrameRate, TheSourcesOwnRateIsItsNominalOne)
{
    auto rate = [](AVRational average, AVRational base) {
        AVRational r = NominalFrameRate(average, base);
        return std::to_string(r.num) + "/" + std::to_string(r.den);
    };
    EXPECT_EQ(rate({ 24, 1 }, { 24, 1 }), "24/1");
    // The average of an NTSC file is a little off; the base rate is exact.
    EXPECT_EQ(rate({ 2997003, 100000 }, { 30000, 1001 }), "30000/1001");
    // A phone's variable rate: the base is a timestamp unit, the average holds.
    EXPECT_EQ(rate({ 2987, 100 }, { 90, 1 }), "2987/100");
    EXPECT_EQ(rate({ 3000000, 100003 }, { 0, 0 }), "30/1");
    EXPECT_EQ(rate({ 0, 0 }, { 25, 1 }), "25/1");
    EXPECT_EQ(rate({ 0, 0 }, { 0, 0 }), "25/1");
    EXPECT_EQ(rate({ 1000, 1 }, { 90000, 1 }), "25/1") << "absurd rates";
}
