#pragma once

// The daemon's lines for its user. Run by systemd with its standard error going to
// the journal ($JOURNAL_STREAM names that stream), every line goes to standard error
// with its syslog priority prefix ("<3>" error ... "<6>" info), so the journal keeps
// the levels. Anywhere else the lines stay as a person at a terminal reads them:
// notices and information on standard output, warnings and errors on standard error,
// without prefixes.
//
// Threads: any thread may log; each line is written with one call, so lines of
// several threads do not mix.

#include <string>

enum class LogLevel { Error = 3, Warning = 4, Notice = 5, Info = 6 };

void DaemonLog(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The line as written, for a journal or a terminal.
std::string FormatLogLine(LogLevel level, bool journal, const std::string& text);

// True when standard error is the stream that $JOURNAL_STREAM ("device:inode") names.
bool StandardErrorIsJournal();
