#pragma once

// JSON text for the browser's API, written piece by piece in one pass. Text values
// are always valid UTF-8 JSON strings: bytes that are not UTF-8 become U+FFFD, and
// control characters, quotes, backslashes and the two line separators that some
// JavaScript parsers choke on are escaped. Numbers that are not finite become null.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& BeginArray();
    // Ends the innermost object or array.
    JsonWriter& End();
    // The key of the next value (inside an object).
    JsonWriter& Key(std::string_view key);

    JsonWriter& String(std::string_view text);
    JsonWriter& Int(int64_t value);
    // With at most `decimals` digits after the point, trailing zeros dropped.
    JsonWriter& Real(double value, int decimals = 3);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    const std::string& Text() const { return m_text; }

private:
    void BeforeValue();

    struct Level {
        char closer; // '}' or ']'
        bool hasItems;
    };
    std::string m_text;
    std::vector<Level> m_levels; // the open objects and arrays, innermost last
    bool m_afterKey = false;
};

// text as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);
