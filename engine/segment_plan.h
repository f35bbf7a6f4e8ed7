#pragma once

// Where live segments begin. Segment n (from 1) holds media time
// [start(n), start(n+1)); every run of a stream shares the plan, so the files
// that runs started by seeks write join the ones before them.
//
// Two kinds of plan: the fixed grid of L seconds (start(n) = (n-1)L, the
// phone's segments), and a list of cut times from the server's key frame index
// (-cuts), where the last segment runs to the end of the file.
//
// Encoded video lives on a grid of output slots (frames at a constant rate), so
// the plan also says which slot opens each segment: on the fixed grid the first
// slot at or after the start (a segment holds exactly the slots whose time lies
// in it); for cuts the slot nearest the cut, because a cut is the time of a
// source picture and that picture lands in its nearest slot.

#include <cstdint>
#include <string>
#include <vector>

class SegmentPlan {
public:
    static SegmentPlan Grid(int segmentSeconds);
    // cuts: ascending, the first 0 (as ParseCuts gives them).
    static SegmentPlan Cuts(std::vector<double> cuts);

    bool IsCutList() const { return !m_cuts.empty(); }
    // Media seconds at which segment `number` (>= 1) starts.
    double StartOf(int64_t number) const;
    // The segment holding media time `seconds`, a start counting as reached
    // `tolerance` seconds early. Times before 0 belong to segment 1.
    int64_t SegmentAt(double seconds, double tolerance = 0) const;
    // The first output slot of segment `number` at num/den frames per second.
    int64_t FirstSlotOf(int64_t number, int num, int den) const;
    // The segment that output slot `slot` belongs to.
    int64_t SegmentOfSlot(int64_t slot, int num, int den) const;
    // The number of the last segment, or 0 when the plan is endless (the grid).
    int64_t LastNumber() const { return static_cast<int64_t>(m_cuts.size()); }

private:
    int m_gridSeconds = 5;
    std::vector<double> m_cuts; // empty: the grid
};

// Parses the text of a cut file: one time in seconds a line (blank lines and
// surrounding blanks allowed), strictly ascending, the first 0, at most a
// million lines. False with the reason in `why` otherwise.
bool ParseCuts(const std::string& text, std::vector<double>& cuts, std::string& why);

// Reads and parses a cut file of at most 32 MB.
bool ReadCutFile(const std::string& path, std::vector<double>& cuts, std::string& why);
