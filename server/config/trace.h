#pragma once

// The trace log: the program's one diagnostic channel. Every caller passes one of
// the fixed level words below; the low 16 bits say what kind of event it is, the
// bits from 16 up which area it comes from. The log file keeps an entry only when
// all bits of its level word lie inside the file mask (default 0xFFFFF).

#include <cstdint>

enum TraceLevel : uint32_t {
    kTraceSubtitleNotice = 0x10002, // subtitle request notices of the HTTP front
    kTraceEnginePipe = 0x10004, // connecting to an engine's pipes
    kTraceWindow = 0x10008, // window-level events, engine notices, chosen bandwidth
    kTraceRequest = 0x10010, // request notices, web server start and stop
    kTraceSubtitleTime = 0x20002, // subtitle timing
    kTraceProgress = 0x20008, // ordinary progress of the work functions
    kTraceRequestStep = 0x20010, // sub-steps of request handling
    kTraceLive = 0x40008, // live stream start and playlist building
    kTraceOverlay = 0x40080, // subtitle overlay drawing
    kTraceEncoderParam = 0x80008, // the encoder parameter line
    kTraceStreamFailure = 0x100008, // failures of streaming and conversion
    kTraceWebFailure = 0x100010, // web server failures
    kTraceSessionLock = 0x200008, // session lock/unlock, media-information open errors
    kTraceEngineLifetime = 0x200009, // engine process lifetime
    kTraceConvertTwice = 0x300008, // a conversion started twice
};

// Formats like printf and hands the text to the viewer and file sinks that the
// switch file "Veneta.ini" in the program folder turns on. Callable from any thread;
// never fails towards its caller. Returns 0 always.
int TraceMessage(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Forgets the switches read and closes the log file, so the next message reads the
// switch file again. For tests that change the program folder's switch file.
void ResetTraceStateForTesting();
