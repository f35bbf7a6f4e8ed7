#pragma once

// New random GUIDs (libuuid), for client ids and conversion ids.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

using Guid = std::array<uint8_t, 16>;

// A new random GUID, or nullopt when the system could not make one.
std::optional<Guid> CreateGuid();

// The GUID as 32 upper-case hexadecimal digits without separators.
std::string GuidToHex(const Guid& guid);

// A new GUID as 32 upper-case hexadecimal digits, or empty text on failure.
std::string CreateGuidHex();
