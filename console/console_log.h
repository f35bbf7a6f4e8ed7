#pragma once

// The standalone console's log: lines on standard error with the syslog priority
// prefix that journald reads ("<3>" error, "<4>" warning, "<5>" notice, "<6>" info).

enum class LogPriority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

void ConsoleLog(LogPriority priority, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
