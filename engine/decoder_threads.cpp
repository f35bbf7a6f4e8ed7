#include "engine/decoder_threads.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace {

// Beyond this a number is nonsense, and FFmpeg caps its threads well below it.
constexpr int kMaxEngines = 1024;
constexpr int kMaxDecoderThreads = 16;

} // namespace

int ParseEngineCount(const char* text)
{
    if (!text || *text < '0' || *text > '9')
        return 1;
    int value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > kMaxEngines)
            return kMaxEngines;
    }
    return *text == '\0' ? std::max(value, 1) : 1;
}

int DecoderThreadCount(int processors, int enginesRunning)
{
    processors = std::max(processors, 1);
    enginesRunning = std::max(enginesRunning, 1);
    if (processors == 1)
        return 1;
    if (enginesRunning == 1)
        return std::min(processors + 1, kMaxDecoderThreads);
    const int share = (processors + enginesRunning - 1) / enginesRunning;
    return std::clamp(share, 1, kMaxDecoderThreads);
}

int DecoderThreadsFromEnvironment()
{
    return DecoderThreadCount(int(std::thread::hardware_concurrency()),
        ParseEngineCount(std::getenv(kEngineCountVariable)));
}
