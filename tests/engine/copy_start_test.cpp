// Pieces of the direct stream that need no file: where a copy run starts, the
// parameter sets a segment's first picture needs, and the index file's text.

#include "engine/copy_start.h"
#include "engine/keyframe_index.h"
#include "engine/stream_copy.h"

#include <gtest/gtest.h>

namespace {

// A packet of the gate's, named by its size (to tell them apart afterwards).
GatePacket Video(int name, double seconds, bool key = false)
{
    GatePacket packet;
    packet.packet = MakePacket();
    packet.packet->size = name;
    packet.video = true;
    packet.key = key;
    packet.seconds = seconds;
    packet.end = seconds;
    return packet;
}

GatePacket Sound(int name, double seconds, double length = 0.023)
{
    GatePacket packet = Video(name, seconds);
    packet.video = false;
    packet.end = seconds + length;
    return packet;
}

std::vector<int> Names(const std::vector<GatePacket>& packets)
{
    std::vector<int> names;
    for (const GatePacket& packet : packets)
        names.push_back(packet.packet->size);
    return names;
}

} // namespace

TEST(CopyStart, StartsAtTheLastKeyPictureAtOrBeforeTheWantedTime)
{
    // The reader landed one group early: key at 8 s, then the wanted one at 12 s
    // (rounded to 11.99 in the index), then a picture after it settles the start.
    CopyStartGate gate(12, 0.02);
    std::vector<GatePacket> out;
    gate.Feed(Sound(1, 7.99), out);
    gate.Feed(Video(2, 8.0, true), out);
    gate.Feed(Sound(3, 8.01), out);
    gate.Feed(Video(4, 8.04), out);
    gate.Feed(Sound(5, 11.98), out); // ends at 12.003, before the start: dropped
    gate.Feed(Sound(12, 11.995), out); // ends at 12.018: heard with the first picture
    gate.Feed(Video(6, 12.01, true), out);
    gate.Feed(Sound(7, 12.003), out);
    EXPECT_TRUE(out.empty()) << "nothing goes before the start is certain";
    EXPECT_FALSE(gate.IsOpen());
    gate.Feed(Video(8, 12.05), out);
    ASSERT_TRUE(gate.IsOpen());
    EXPECT_DOUBLE_EQ(gate.StartSeconds(), 12.01);
    EXPECT_FALSE(gate.StartedLate());
    EXPECT_EQ(Names(out), (std::vector<int> { 12, 6, 7, 8 }));

    // Open: pictures pass, sound that ends before the start (late in the file) not.
    out.clear();
    gate.Feed(Sound(9, 11.9), out);
    gate.Feed(Video(10, 12.09), out);
    gate.Feed(Sound(11, 12.03), out);
    EXPECT_EQ(Names(out), (std::vector<int> { 10, 11 }));
}

TEST(CopyStart, LateLandingOrAnEarlyEndStillGiveAStart)
{
    // The reader landed after the wanted key picture: pictures before the next key
    // cannot be shown; the next key picture is the start, and that is said.
    CopyStartGate late(10, 0.02);
    std::vector<GatePacket> out;
    late.Feed(Video(1, 10.5), out);
    late.Feed(Sound(2, 10.6), out);
    late.Feed(Video(3, 14, true), out);
    EXPECT_TRUE(late.IsOpen());
    EXPECT_TRUE(late.StartedLate());
    EXPECT_DOUBLE_EQ(late.StartSeconds(), 14);
    EXPECT_EQ(Names(out), (std::vector<int> { 3 })) << "the sound before the start is dropped";

    // The file ends right after the start's key picture.
    CopyStartGate end(30, 0.02);
    out.clear();
    end.Feed(Video(1, 29.5, true), out);
    end.Feed(Sound(2, 29.99), out);
    end.End(out);
    EXPECT_TRUE(end.IsOpen());
    EXPECT_EQ(Names(out), (std::vector<int> { 1, 2 }));

    // From the beginning: the first key picture, whatever its time.
    CopyStartGate first(0, 0.02);
    out.clear();
    first.Feed(Sound(4, 0), out); // ends as the first picture begins
    first.Feed(Sound(1, 0.023), out);
    first.Feed(Video(2, 0.023, true), out);
    first.Feed(Video(3, 0.063), out);
    EXPECT_FALSE(first.StartedLate());
    EXPECT_EQ(Names(out), (std::vector<int> { 1, 2, 3 }));

    // No key picture at all: nothing.
    CopyStartGate none(5, 0.02);
    out.clear();
    none.Feed(Video(1, 5.5), out);
    none.End(out);
    EXPECT_FALSE(none.IsOpen());
    EXPECT_TRUE(out.empty());
}

TEST(CopyStart, SequenceParameterSetsAreFoundBehindStartCodes)
{
    const uint8_t withSps[] = { 0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x67, 0x64, 0, 0, 1, 0x68 };
    const uint8_t withoutSps[] = { 0, 0, 0, 1, 0x09, 0xF0, 0, 0, 1, 0x65, 0x88, 0x67 };
    EXPECT_TRUE(HasSequenceParameterSet(withSps, sizeof withSps));
    EXPECT_FALSE(HasSequenceParameterSet(withoutSps, sizeof withoutSps))
        << "0x67 inside a slice is not a unit";
    EXPECT_FALSE(HasSequenceParameterSet(withSps, 3));
    EXPECT_FALSE(HasSequenceParameterSet(nullptr, 0));
}

TEST(KeyframeIndexText, EveryFieldOnItsLine)
{
    KeyframeIndex index;
    index.durationSeconds = 7200.04;
    index.videoCodec = "h264";
    index.width = 1920;
    index.height = 1080;
    index.pixelFormat = "yuv420p";
    index.copyable = true;
    index.rotation = 90;
    index.rateNum = 24000;
    index.rateDen = 1001;
    index.audio
        = { { "aac", 2, 48000, true }, { "ac3", 6, 48000, false }, { "we ird", 1, 8000, false } };
    index.fromContainer = true;
    index.keyframes = { 0, 4.004, 9.3426666 };
    EXPECT_EQ(FormatKeyframeIndex(index),
        "vembacast-keyframes 1\nduration 7200.040000\nvideo h264 1920 1080 yuv420p\ncopyable 1\n"
        "rotation 90\nfps 24000/1001\naudio aac 2 48000 copy\naudio ac3 6 48000 encode\n"
        "audio we_ird 1 8000 encode\nindex container\nkeyframes 3\n0.000000\n4.004000\n"
        "9.342667\n");
}
