#pragma once

// The trace log: the program's one diagnostic channel. Every caller passes one of
// the fixed level words below; the low 16 bits say what kind of event it is, the
// bits from 16 up which area it comes from. The log file keeps an entry only when
// all bits of its level word lie inside the file mask (default 0xFFFFF).
//
// Switches: section [DEBUG] of "Veneta.ini" in the trace folder, read once per
// process: PXTRACE (default 1; bit 0 the viewer sink, bit 1 the file sink) and
// PXTRACE_MASK (default 0xFFFFF), each decimal or 0x hexadecimal.
// File sink: "LogFile[YYYY-MM-DD].log" in the trace folder, UTF-8, dated by the
// first entry of the process and only appended to; each entry is
// "\r\n[HH:MM:SS] ] " followed by the text.
// Viewer sink: one datagram per message to the Unix socket "Displayer" in
// GetRuntimeFolder(): the level word (4 bytes, little-endian), then the UTF-8 text;
// sent without waiting and dropped when no viewer (vembacast-trace) listens.
// The trace folder is the program folder, or $VEMBACAST_TRACE_DIR when that is set
// (tests point it at a folder of their own).

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
