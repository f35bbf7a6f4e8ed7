#pragma once

// Message types of the two pipes between the server and the engine. Both sides
// frame each message as one type byte, a 32-bit little-endian payload length and
// the payload. This header is shared by the engine and the server's CEncoder.

#include <cstdint>

namespace EngineMessage {
inline constexpr uint8_t Quit = 1;
inline constexpr uint8_t StartParameters = 2;
inline constexpr uint8_t Request = 4; // to the engine: a file path; from it: 840-byte information
inline constexpr uint8_t RequestDone = 5;
inline constexpr uint8_t Image = 7;
inline constexpr uint8_t StartEncoding = 8;
inline constexpr uint8_t Text = 11;
inline constexpr uint8_t Status = 14;
inline constexpr uint8_t Complete = 15;
inline constexpr uint8_t Error = 16;

// The code of an error message (16) when an output could not be written because its
// disk is full (ENOSPC); the server treats that run as ended, not the file as broken.
inline constexpr uint32_t kErrorCodeDiskFull = 9;
} // namespace EngineMessage
