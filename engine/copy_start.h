#pragma once

// Where a run that copies the video starts. Copied video can only begin at a key
// picture, and nothing is decoded, so the start is the last key picture at or
// before the wanted time (the cut the server asked for, a little tolerance for
// times rounded in the index), found among the packets the reader gives after
// its seek. Until that is certain, packets wait here in file order: a key
// picture a little before the start may be followed by one exactly at it.
// Once open, video passes unchanged and sound passes from the start on (sound
// ending at or before it is dropped), so the sound begins within one of its
// frames of the picture.
//
// If the seek landed after the wanted time, the first key picture found is the
// start; the caller logs that. One thread (the demuxer's) uses a gate.

#include "engine/ffmpeg_ptr.h"

#include <vector>

struct GatePacket {
    PacketPtr packet;
    bool video = false;
    bool key = false; // a key picture (video only)
    double seconds = 0; // media time of the packet (presentation, or decoding when unknown)
    double end = 0; // media time its content ends (sound; video: seconds)
};

class CopyStartGate {
public:
    CopyStartGate(double wantedSeconds, double tolerance);

    // One packet in file order; what may go on now is appended to `out`.
    void Feed(GatePacket packet, std::vector<GatePacket>& out);
    // The input ended: a start found is taken even if nothing came after it.
    void End(std::vector<GatePacket>& out);

    bool IsOpen() const { return m_open; }
    double StartSeconds() const { return m_start; }
    // A start was wanted after the beginning, and it is later than that time
    // plus the tolerance.
    bool StartedLate() const { return m_open && m_wanted > 0 && m_start > m_wanted + m_tolerance; }

private:
    void OpenAt(double seconds, std::vector<GatePacket>& out);
    void TakeCandidate(GatePacket packet);
    void Bound();

    const double m_wanted;
    const double m_tolerance;
    bool m_open = false;
    bool m_haveCandidate = false;
    double m_start = 0;
    std::vector<GatePacket> m_waiting; // from the candidate on (sound also before it)
};
