#include "platform/guid.h"

#include <cstring>
#include <uuid/uuid.h>

std::optional<Guid> CreateGuid()
{
    uuid_t raw;
    // Random only: a time-based GUID would tell the network about this machine.
    uuid_generate_random(raw);
    Guid guid {};
    std::memcpy(guid.data(), raw, guid.size());
    if (uuid_is_null(raw))
        return std::nullopt;
    return guid;
}

std::string GuidToHex(const Guid& guid)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(32);
    for (uint8_t byte : guid) {
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

std::string CreateGuidHex()
{
    auto guid = CreateGuid();
    return guid ? GuidToHex(*guid) : std::string();
}
