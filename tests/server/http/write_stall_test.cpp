#include "http/write_stall.h"

#include <gtest/gtest.h>

// A client that has taken more of an answer than the buffers on the way could hold
// for a client that reads nothing has been reading: its stalled write waits long. One
// that has not keeps the library's short bound.
TEST(StalledWriteBound, OnlyAClientKnownToReadGetsTheLongBound)
{
    const uint64_t sendBuffer = 4 * 1024 * 1024;
    EXPECT_EQ(StalledWriteBound(0, sendBuffer), kLibraryIoTimeout);
    EXPECT_EQ(StalledWriteBound(sendBuffer + kUnreadAllowance, sendBuffer), kLibraryIoTimeout);
    EXPECT_EQ(StalledWriteBound(sendBuffer + kUnreadAllowance + 1, sendBuffer), kPausedReaderLimit);
}
