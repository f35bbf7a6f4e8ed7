#include "http/write_stall.h"

std::chrono::milliseconds StalledWriteBound(uint64_t bytesTaken, uint64_t sendBufferLimit)
{
    if (bytesTaken > sendBufferLimit + kUnreadAllowance)
        return kPausedReaderLimit;
    return kLibraryIoTimeout;
}
