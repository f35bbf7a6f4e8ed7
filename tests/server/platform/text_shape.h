#pragma once

// Shape checks for test expectations (std::regex trips GCC 12 warnings under the
// sanitizer build, and these are clearer anyway).

#include <string_view>

// In shape, '9' stands for a decimal digit and 'F' for an upper-case hex digit;
// every other character stands for itself.
inline bool HasShape(std::string_view text, std::string_view shape)
{
    if (text.size() != shape.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool digit = c >= '0' && c <= '9';
        if (shape[i] == '9'       ? !digit
                : shape[i] == 'F' ? !(digit || (c >= 'A' && c <= 'F'))
                                  : c != shape[i])
            return false;
    }
    return true;
}

// Runs of decimal digits joined by single dots, count parts, each at most maxDigits long.
inline bool IsDottedNumbers(std::string_view text, int minParts, int maxParts, size_t maxDigits)
{
    int parts = 0;
    size_t run = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (run == 0 || run > maxDigits)
                return false;
            ++parts;
            run = 0;
        } else if (text[i] >= '0' && text[i] <= '9') {
            ++run;
        } else {
            return false;
        }
    }
    return parts >= minParts && parts <= maxParts;
}
