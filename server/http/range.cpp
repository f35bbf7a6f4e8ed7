#include "http/range.h"

#include "config/utf8_text.h"

#include <cctype>
#include <limits>
#include <strings.h>

namespace {

// Decimal digits only; a value too large for 64 bits saturates (it lies past any end).
bool ParseNumber(std::string_view text, uint64_t& value)
{
    if (text.empty())
        return false;
    value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10)
            value = std::numeric_limits<uint64_t>::max();
        else
            value = value * 10 + digit;
    }
    return true;
}

} // namespace

RangeRequest ParseRange(std::string_view header, uint64_t fileSize)
{
    constexpr std::string_view kUnit = "bytes=";
    RangeRequest whole;
    header = TrimBlanks(header);
    if (header.size() < kUnit.size() || strncasecmp(header.data(), kUnit.data(), kUnit.size()) != 0)
        return whole;
    std::string_view rangeSet = TrimBlanks(header.substr(kUnit.size()));
    if (rangeSet.find(',') != std::string_view::npos)
        return whole;
    size_t dash = rangeSet.find('-');
    if (dash == std::string_view::npos)
        return whole;
    std::string_view firstText = TrimBlanks(rangeSet.substr(0, dash));
    std::string_view lastText = TrimBlanks(rangeSet.substr(dash + 1));

    if (firstText.empty()) {
        // Suffix range: the last N bytes.
        uint64_t count = 0;
        if (!ParseNumber(lastText, count))
            return whole;
        if (count == 0 || fileSize == 0)
            return RangeRequest { RangeKind::Unsatisfiable };
        if (count > fileSize)
            count = fileSize;
        return RangeRequest { RangeKind::Partial, fileSize - count, fileSize - 1 };
    }
    uint64_t first = 0;
    if (!ParseNumber(firstText, first))
        return whole;
    uint64_t last = std::numeric_limits<uint64_t>::max();
    if (!lastText.empty()) {
        if (!ParseNumber(lastText, last))
            return whole;
        if (last < first)
            return whole;
    }
    if (first >= fileSize)
        return RangeRequest { RangeKind::Unsatisfiable };
    if (last >= fileSize)
        last = fileSize - 1;
    return RangeRequest { RangeKind::Partial, first, last };
}
