#pragma once

// How long a run takes to get going, step by step: opening the input, reading
// its stream information, the first packet, the first picture decoded, the first
// picture encoded and the first segment written. Each step is noted once, by
// whichever stage reaches it (any thread); when the first segment (or the whole
// output file) is written, one line with every step's time since the process
// started goes to the engine log, so the slow part of a start can be seen.

enum class StartStep { Open, Probe, FirstPacket, FirstDecoded, FirstEncoded, FirstOutput, Count };

// Notes the step's time unless it was noted before. The FirstOutput step also
// logs the summary line.
void MarkStartStep(StartStep step);

// Milliseconds since the process started at which the step was noted, -1 if not.
long long StartStepMs(StartStep step);
