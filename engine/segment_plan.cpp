#include "engine/segment_plan.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr size_t kMaxCuts = 1000000;
constexpr double kMaxCutSeconds = 1e8; // some three years of media
constexpr std::streamoff kMaxCutFileBytes = 32 << 20;

// ceil(a / b) for b > 0.
__int128 CeilDiv(__int128 a, __int128 b)
{
    __int128 q = a / b;
    return (a % b != 0 && a > 0) ? q + 1 : q;
}

// floor(a / b) for b > 0.
__int128 FloorDiv(__int128 a, __int128 b)
{
    __int128 q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

std::string Trim(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace

SegmentPlan SegmentPlan::Grid(int segmentSeconds)
{
    SegmentPlan plan;
    plan.m_gridSeconds = segmentSeconds > 0 ? segmentSeconds : 5;
    return plan;
}

SegmentPlan SegmentPlan::Cuts(std::vector<double> cuts)
{
    SegmentPlan plan;
    plan.m_cuts = std::move(cuts);
    if (plan.m_cuts.empty())
        plan.m_cuts.push_back(0);
    return plan;
}

double SegmentPlan::StartOf(int64_t number) const
{
    if (number < 1)
        number = 1;
    if (m_cuts.empty())
        return static_cast<double>(number - 1) * m_gridSeconds;
    size_t index = static_cast<size_t>(std::min<int64_t>(number, LastNumber()) - 1);
    return m_cuts[index];
}

int64_t SegmentPlan::SegmentAt(double seconds, double tolerance) const
{
    double at = seconds + tolerance;
    if (!(at > 0))
        return 1;
    if (m_cuts.empty()) {
        // A time given as a whole multiple of L must land exactly on its segment.
        double index = std::floor(at / m_gridSeconds + 1e-9);
        return index >= 9e15 ? INT64_MAX / 2 : static_cast<int64_t>(index) + 1;
    }
    auto after = std::upper_bound(m_cuts.begin(), m_cuts.end(), at);
    return std::max<int64_t>(after - m_cuts.begin(), 1);
}

int64_t SegmentPlan::FirstSlotOf(int64_t number, int num, int den) const
{
    if (number <= 1 || num <= 0 || den <= 0)
        return 0;
    if (m_cuts.empty()) {
        __int128 top = static_cast<__int128>(number - 1) * m_gridSeconds * num;
        return static_cast<int64_t>(CeilDiv(top, den));
    }
    if (number > LastNumber())
        return INT64_MAX;
    return std::llround(m_cuts[static_cast<size_t>(number - 1)] * num / den);
}

int64_t SegmentPlan::SegmentOfSlot(int64_t slot, int num, int den) const
{
    if (slot <= 0 || num <= 0 || den <= 0)
        return 1;
    if (m_cuts.empty()) {
        __int128 top = static_cast<__int128>(slot) * den;
        __int128 bottom = static_cast<__int128>(num) * m_gridSeconds;
        return static_cast<int64_t>(FloorDiv(top, bottom)) + 1;
    }
    // The largest n whose first slot is at or before `slot`.
    int64_t low = 1;
    int64_t high = LastNumber();
    while (low < high) {
        int64_t middle = low + (high - low + 1) / 2;
        if (FirstSlotOf(middle, num, den) <= slot)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

bool ParseCuts(const std::string& text, std::vector<double>& cuts, std::string& why)
{
    cuts.clear();
    std::istringstream lines(text);
    std::string line;
    size_t lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        std::string value = Trim(line);
        if (value.empty())
            continue;
        errno = 0;
        char* end = nullptr;
        double cut = strtod(value.c_str(), &end);
        if (errno != 0 || end == value.c_str() || *end != '\0' || !std::isfinite(cut) || cut < 0
            || cut > kMaxCutSeconds) {
            why = "line " + std::to_string(lineNumber) + " is not a time";
            return false;
        }
        if (cuts.empty() && cut != 0) {
            why = "the first cut is not 0";
            return false;
        }
        if (!cuts.empty() && cut <= cuts.back()) {
            why = "line " + std::to_string(lineNumber) + " does not come after the one before";
            return false;
        }
        if (cuts.size() >= kMaxCuts) {
            why = "more than " + std::to_string(kMaxCuts) + " cuts";
            return false;
        }
        cuts.push_back(cut);
    }
    if (cuts.empty()) {
        why = "no cuts";
        return false;
    }
    return true;
}

bool ReadCutFile(const std::string& path, std::vector<double>& cuts, std::string& why)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        why = "cannot be read";
        return false;
    }
    file.seekg(0, std::ios::end);
    std::streamoff size = file.tellg();
    if (size < 0 || size > kMaxCutFileBytes) {
        why = "too large";
        return false;
    }
    file.seekg(0);
    std::string text(static_cast<size_t>(size), '\0');
    if (!file.read(text.data(), size)) {
        why = "cannot be read";
        return false;
    }
    return ParseCuts(text, cuts, why);
}
