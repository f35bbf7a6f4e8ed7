#pragma once

// The encoder engine's one-shot modes (track list, text subtitles, key frame index):
// the engine runs as a plain child process without pipes, writes its one output file
// whole (OUT.part, then renamed) and exits. The caller bounds the run in time: an
// engine stuck in a hostile file is killed when its time is up, and the run counts as
// failed. The output file exists exactly when the run succeeded.
//
// Threads: any thread; the call waits for the child with no lock held.

#include "enginectl/encoder.h"

#include <chrono>
#include <string>
#include <vector>

// Runs the engine with args (which name output with -o) and waits at most bound;
// true when output was written.
bool RunEngineTool(const EngineLaunch& launch, const std::vector<std::string>& args,
    const std::string& output, std::chrono::milliseconds bound);
