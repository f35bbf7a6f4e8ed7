#include "enginectl/encoder_records.h"

#include <cstring>

void EngineStatus::Store(const uint8_t* payload24)
{
    std::array<uint32_t, 6> words;
    for (size_t i = 0; i < words.size(); ++i) {
        const uint8_t* p = payload24 + 4 * i;
        words[i] = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
    std::lock_guard lock(m_lock);
    m_words = words;
}

void EngineStatus::Clear()
{
    std::lock_guard lock(m_lock);
    m_words = {};
}

std::array<uint32_t, 6> EngineStatus::Words() const
{
    std::lock_guard lock(m_lock);
    return m_words;
}

double EngineStatus::PositionSeconds() const
{
    std::array<uint32_t, 6> words = Words();
    uint64_t bits = words[2] | static_cast<uint64_t>(words[3]) << 32;
    double position = 0;
    memcpy(&position, &bits, sizeof position);
    return position;
}

uint32_t EngineStatus::TotalMs() const
{
    return Words()[4];
}
