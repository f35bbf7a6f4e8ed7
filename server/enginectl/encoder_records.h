#pragma once

// The records an engine's messages leave behind: its status (14), the picture
// of a thumbnail request (7), its information (4) and text (11) messages.

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

// Status target of an engine run: the six 32-bit words of its last message 14.
// Written by the engine's reader thread, read by the owner's threads.
class EngineStatus {
public:
    void Store(const uint8_t* payload24);
    void Clear();
    std::array<uint32_t, 6> Words() const;
    double PositionSeconds() const; // words 3 and 4: a 64-bit float
    uint32_t TotalMs() const; // word 5

private:
    mutable std::mutex m_lock;
    std::array<uint32_t, 6> m_words {}; // guarded by m_lock
};

// One picture of message 7: the 48-byte bitmap header and the B,G,R rows.
struct EngineImage {
    static constexpr size_t kHeaderSize = 48;
    std::array<uint8_t, kHeaderSize> header {};
    std::vector<uint8_t> pixels; // empty when the header's image size did not match

    int32_t Width() const { return Word(4); }
    int32_t HeightWord() const { return Word(8); } // negative: rows from the top down
    uint32_t ImageSize() const { return static_cast<uint32_t>(Word(20)); }
    int32_t Word(size_t offset) const
    {
        return static_cast<int32_t>(header[offset] | header[offset + 1] << 8
            | header[offset + 2] << 16 | static_cast<uint32_t>(header[offset + 3]) << 24);
    }
};

// Message 11: its 16-byte header and the bytes after it.
struct EngineText {
    std::array<uint8_t, 16> header {};
    std::vector<uint8_t> text;
};

inline constexpr size_t kEngineInfoSize = 840;
