#include "engine/engine_log.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace {

std::atomic<int> g_maxLevel { static_cast<int>(LogLevel::Warning) };
const auto g_started = std::chrono::steady_clock::now();

void ForwardLibraryLog(void*, int level, const char* format, va_list args)
{
    // Library chatter below errors is noise for the server's log; errors of the
    // libraries surface as our own error lines anyway.
    if (level > AV_LOG_ERROR || g_maxLevel.load() < static_cast<int>(LogLevel::Debug))
        return;
    char text[1024];
    vsnprintf(text, sizeof text, format, args);
    fprintf(stderr, "vembacast-engine[%d] lib: %s", static_cast<int>(getpid()), text);
}

} // namespace

long long EngineElapsedMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - g_started)
        .count();
}

void InitEngineLog()
{
    if (const char* value = getenv("VEMBACAST_ENGINE_LOG")) {
        int level = atoi(value);
        if (level >= 0 && level <= 3)
            g_maxLevel = level;
    }
    av_log_set_callback(ForwardLibraryLog);
}

void EngineLog(LogLevel level, const char* format, ...)
{
    if (static_cast<int>(level) > g_maxLevel.load())
        return;
    static const char* const names[] = { "error", "warning", "info", "debug" };
    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fprintf(stderr, "vembacast-engine[%d] +%lldms %s: %s\n", static_cast<int>(getpid()),
        EngineElapsedMs(), names[static_cast<int>(level)], text);
}
