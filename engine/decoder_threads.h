#pragma once

// How many threads the video decoder gets. Frame threads are where the decoding
// time goes, and each one beyond the processors' count only adds a picture of
// delay and a picture of memory. When several engines run at once (the server says
// how many in VEMBACAST_ENGINE_COUNT, this one included), they share the
// processors instead of each taking all of them.

#include <string>

constexpr const char* kEngineCountVariable = "VEMBACAST_ENGINE_COUNT";

// The number of engines running, from the variable's text: a whole number from 1
// up; anything else (missing, signs, junk, absurd values) counts as this one alone
// or is clamped.
int ParseEngineCount(const char* text);

// Decoder threads for this engine: every processor plus one to cover the waits
// when it runs alone, a fair share of the processors (at least one) when it does
// not. 1 means no decoder threads beside the caller's.
int DecoderThreadCount(int processors, int enginesRunning);

// DecoderThreadCount for this machine and the environment.
int DecoderThreadsFromEnvironment();
