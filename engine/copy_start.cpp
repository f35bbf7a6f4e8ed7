#include "engine/copy_start.h"

#include <algorithm>

namespace {

// Sound that piles up before any key picture is found is kept only this far.
constexpr size_t kMaxWaiting = 20000;

} // namespace

CopyStartGate::CopyStartGate(double wantedSeconds, double tolerance)
    : m_wanted(wantedSeconds)
    , m_tolerance(tolerance)
{
}

void CopyStartGate::Feed(GatePacket packet, std::vector<GatePacket>& out)
{
    if (m_open) {
        if (packet.video || packet.end > m_start)
            out.push_back(std::move(packet));
        return;
    }
    bool early = packet.seconds <= m_wanted + m_tolerance;
    if (packet.video && packet.key && early) {
        TakeCandidate(std::move(packet));
        return;
    }
    if (packet.video && (m_haveCandidate || packet.key) && !early) {
        // The first picture past the wanted time settles the start.
        OpenAt(m_haveCandidate ? m_start : packet.seconds, out);
        out.push_back(std::move(packet));
        return;
    }
    if (packet.video && !m_haveCandidate)
        return; // cannot be shown without the key picture before it
    m_waiting.push_back(std::move(packet));
    Bound();
}

void CopyStartGate::End(std::vector<GatePacket>& out)
{
    if (!m_open && m_haveCandidate)
        OpenAt(m_start, out);
    m_waiting.clear();
}

void CopyStartGate::TakeCandidate(GatePacket packet)
{
    m_haveCandidate = true;
    m_start = packet.seconds;
    double start = m_start;
    // Pictures before the new candidate are not needed; sound ending before it neither.
    std::erase_if(m_waiting, [start](const GatePacket& p) { return p.video || p.end <= start; });
    m_waiting.push_back(std::move(packet));
}

void CopyStartGate::OpenAt(double seconds, std::vector<GatePacket>& out)
{
    m_open = true;
    m_start = seconds;
    for (GatePacket& waiting : m_waiting) {
        if (waiting.video || waiting.end > m_start)
            out.push_back(std::move(waiting));
    }
    m_waiting.clear();
}

void CopyStartGate::Bound()
{
    if (m_waiting.size() <= kMaxWaiting)
        return;
    // Drop the oldest sound; the candidate and the pictures after it stay.
    auto oldest = std::find_if(
        m_waiting.begin(), m_waiting.end(), [](const GatePacket& p) { return !p.video; });
    if (oldest != m_waiting.end())
        m_waiting.erase(oldest);
}
