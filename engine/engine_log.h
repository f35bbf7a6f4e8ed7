#pragma once

// The engine's own diagnostics: one line per event on stderr, prefixed with the
// process id so lines of concurrent engines can be told apart. The engine is a
// separate process and does not use the server's trace log.

enum class LogLevel { Error = 0, Warning = 1, Info = 2, Debug = 3 };

// The level above which lines are dropped: Warning, or VEMBACAST_ENGINE_LOG
// (0..3) from the environment.
void InitEngineLog();
// Milliseconds since the process started (the stamp every line carries).
long long EngineElapsedMs();
void EngineLog(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));
