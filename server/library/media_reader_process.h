#pragma once

// Runs a piece of reading work in a child process forked for it, and brings its
// text results back through a pipe. The child closes every descriptor it inherited
// except its end of the pipe (so it never holds a client connection or the
// listening socket open), runs the job, writes the results and leaves with _exit.
// The job must not take any lock that another thread of the parent could have held
// at the moment of the fork: it may allocate memory and call into a library that
// the parent never runs, nothing more.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

enum class MediaReaderOutcome {
    Read, // the job succeeded and its values came back whole
    CannotOpen, // the job reported failure
    TimedOut, // the child ran out of time and was killed
    Crashed, // the child died or sent damaged output
    NoProcess, // no child could be made
};

// Returns true with the values to send, or false for "cannot open".
using MediaReaderJob = std::function<bool(std::vector<std::string>& values)>;

MediaReaderOutcome RunMediaReader(
    const MediaReaderJob& job, std::chrono::milliseconds timeout, std::vector<std::string>& values);
