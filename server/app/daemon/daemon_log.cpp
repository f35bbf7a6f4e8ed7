#include "daemon_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

std::string FormatLogLine(LogLevel level, bool journal, const std::string& text)
{
    std::string prefix = journal ? "<" + std::to_string(static_cast<int>(level)) + ">" : "";
    return prefix + "vembacastd: " + text + "\n";
}

bool StandardErrorIsJournal()
{
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0;
    unsigned long long inode = 0;
    struct stat info { };
    if (!stream || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2
        || fstat(STDERR_FILENO, &info) != 0)
        return false;
    return info.st_dev == device && info.st_ino == inode;
}

void DaemonLog(LogLevel level, const char* format, ...)
{
    static const bool journal = StandardErrorIsJournal();
    char text[2048];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    FILE* stream = journal || level <= LogLevel::Warning ? stderr : stdout;
    std::fputs(FormatLogLine(level, journal, text).c_str(), stream);
    std::fflush(stream);
}
