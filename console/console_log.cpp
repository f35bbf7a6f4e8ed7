#include "console/console_log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

void ConsoleLog(LogPriority priority, const char* format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    // One write per line, so lines of several threads do not mix.
    std::string line
        = "<" + std::to_string(static_cast<int>(priority)) + ">vembacast-console: " + text + "\n";
    std::fputs(line.c_str(), stderr);
}
