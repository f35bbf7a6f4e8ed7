// One libFuzzer program per target: VEMBA_FUZZ_TARGET names the entry point.

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return VEMBA_FUZZ_TARGET(data, size);
}
