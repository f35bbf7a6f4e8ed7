#include "engine/mux.h"

#include <algorithm>

namespace {

// A lagging stream is waited for at most this much media time.
constexpr double kMaxInterleaveSeconds = 10;

} // namespace

MuxInbox::MuxInbox(std::vector<AVRational> timeBases, int videoLane)
{
    for (AVRational tb : timeBases) {
        Lane& lane = m_lanes.emplace_back();
        lane.timeBase = tb;
        lane.video = static_cast<int>(m_lanes.size()) - 1 == videoLane;
    }
}

double MuxInbox::Seconds(int stream, const AVPacket& packet) const
{
    bool keyPicture
        = m_lanes[stream].video && (packet.flags & AV_PKT_FLAG_KEY) && packet.pts != AV_NOPTS_VALUE;
    int64_t ts = keyPicture ? packet.pts : packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
    return ts == AV_NOPTS_VALUE ? 0 : ts * av_q2d(m_lanes[stream].timeBase);
}

void MuxInbox::Push(int stream, PacketPtr packet)
{
    std::lock_guard lock(m_lock);
    Lane& lane = m_lanes[stream];
    double seconds = Seconds(stream, *packet);
    if (seconds > lane.newest)
        lane.newest = seconds;
    lane.packets.push_back(std::move(packet));
    m_changed.notify_all();
}

void MuxInbox::End(int stream)
{
    std::lock_guard lock(m_lock);
    m_lanes[stream].ended = true;
    m_changed.notify_all();
}

void MuxInbox::Abort()
{
    std::lock_guard lock(m_lock);
    m_aborted = true;
    m_changed.notify_all();
}

int MuxInbox::PickLocked() const
{
    int best = -1;
    double bestSeconds = 0;
    double newest = -1e18;
    bool waiting = false;
    for (size_t i = 0; i < m_lanes.size(); ++i) {
        const Lane& lane = m_lanes[i];
        newest = std::max(newest, lane.newest);
        if (lane.packets.empty()) {
            waiting = waiting || !lane.ended;
            continue;
        }
        double seconds = Seconds(static_cast<int>(i), *lane.packets.front());
        if (best < 0 || seconds < bestSeconds) {
            best = static_cast<int>(i);
            bestSeconds = seconds;
        }
    }
    if (best >= 0 && waiting && newest - bestSeconds < kMaxInterleaveSeconds)
        return -1;
    return best;
}

bool MuxInbox::Pop(int& stream, PacketPtr& packet)
{
    std::unique_lock lock(m_lock);
    while (true) {
        if (m_aborted)
            return false;
        int pick = PickLocked();
        if (pick >= 0) {
            stream = pick;
            packet = std::move(m_lanes[pick].packets.front());
            m_lanes[pick].packets.pop_front();
            return true;
        }
        bool allDone = true;
        for (const Lane& lane : m_lanes)
            allDone = allDone && lane.ended && lane.packets.empty();
        if (allDone)
            return false;
        m_changed.wait(lock);
    }
}
