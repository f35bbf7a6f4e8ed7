// Decoder thread sizing from the machine and the engine count the server passes.

#include "engine/decoder_threads.h"

#include <gtest/gtest.h>

namespace {

TEST(EngineCount, OnlyAPlainWholeNumberCounts)
{
    EXPECT_EQ(ParseEngineCount(nullptr), 1);
    EXPECT_EQ(ParseEngineCount(""), 1);
    EXPECT_EQ(ParseEngineCount("3"), 3);
    EXPECT_EQ(ParseEngineCount("12"), 12);
    EXPECT_EQ(ParseEngineCount("0"), 1);
    EXPECT_EQ(ParseEngineCount("-4"), 1);
    EXPECT_EQ(ParseEngineCount("+4"), 1);
    EXPECT_EQ(ParseEngineCount("4x"), 1);
    EXPECT_EQ(ParseEngineCount(" 4"), 1);
    EXPECT_EQ(ParseEngineCount("99999999999999999999"), 1024);
}

TEST(DecoderThreads, AloneTheEngineTakesEveryProcessorAndOneForTheWaits)
{
    EXPECT_EQ(DecoderThreadCount(2, 1), 3);
    EXPECT_EQ(DecoderThreadCount(4, 1), 5);
    EXPECT_EQ(DecoderThreadCount(64, 1), 16);
    EXPECT_EQ(DecoderThreadCount(1, 1), 1);
    EXPECT_EQ(DecoderThreadCount(0, 1), 1); // the machine could not tell
}

TEST(DecoderThreads, EnginesSideBySideShareTheProcessors)
{
    EXPECT_EQ(DecoderThreadCount(2, 2), 1);
    EXPECT_EQ(DecoderThreadCount(2, 7), 1);
    EXPECT_EQ(DecoderThreadCount(8, 2), 4);
    EXPECT_EQ(DecoderThreadCount(8, 3), 3);
    EXPECT_EQ(DecoderThreadCount(4, 1000), 1);
    // Together they never ask for much more than the machine has.
    for (int processors = 1; processors <= 32; ++processors)
        for (int engines = 2; engines <= 40; ++engines)
            EXPECT_LE(DecoderThreadCount(processors, engines) * engines,
                std::max(processors + engines - 1, engines))
                << processors << " processors, " << engines << " engines";
}

} // namespace
