// The in-memory subtitle model: styles by name and entries in the order they were added.
#pragma once

#include "text_file.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace subvoro {

struct CRectMargins {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    bool operator==(const CRectMargins&) const = default;
};

struct STSStyle {
    CRectMargins margins { 20, 20, 20, 20 };
    int32_t alignment = 2; // 1-9 as on a numeric keypad
    int32_t borderStyle = 0; // 0 outline, 1 opaque box
    double outlineWidthX = 2.0;
    double outlineWidthY = 2.0;
    double shadowDepthX = 3.0;
    double shadowDepthY = 3.0;
    uint32_t colors[4] = { 0x00FFFFFF, 0x0000FFFF, 0, 0 }; // primary, secondary, outline, back
    uint8_t alpha[4] = { 0, 0, 0, 0x80 };
    int32_t charSet = 1;
    std::wstring fontName = L"Arial";
    double fontSize = 18.0;
    double fontScaleX = 100.0;
    double fontScaleY = 100.0;
    double fontSpacing = 0.0;
    int32_t fontWeight = 700;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    // Carried for SubStation Alpha sources; only angleZ is ever written.
    int32_t furtherA = 0;
    double furtherB = 0.0;
    double angleZ = 0.0;
    double angleX = 0.0;
    double angleY = 0.0;
    double offsetX = 0.0;
    double offsetY = 0.0;
    int32_t furtherC = 2;

    // Equal in every field but the two offsets.
    bool SameAs(const STSStyle& other) const;
};

struct STSEntry {
    std::wstring text; // may hold SSA override tags, "\N" and line feeds
    bool unicode = false; // false: the bytes of a multi-byte text, one per character
    std::wstring style = L"Default";
    std::wstring actor;
    std::wstring effect;
    CRectMargins margins;
    int32_t layer = 0;
    int32_t readOrder = -1;
    int32_t start = 0;
    int32_t end = 0;
};

using CSTSStyleMap = std::map<std::wstring, STSStyle>;

// Told once per unknown style name; answers whether to keep warning.
using UnknownStyleNotice = std::function<bool(const std::wstring& style, bool unicode)>;

enum class TimeMode { Milliseconds = 0, Frames = 1 };

class CSimpleTextSubtitle {
public:
    std::wstring name;
    TimeMode mode = TimeMode::Milliseconds;
    TextEncoding encoding = TextEncoding::Ascii;
    std::string path;
    std::wstring samiLanguage; // survives Empty()
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    bool reverseCollisions = false;
    bool scaledBorderAndShadow = false;
    CSTSStyleMap styles;
    bool defaultStyleGenerated = false;
    std::vector<STSEntry> entries;

    // Drops entries and styles and clears the screen size; keeps the SAMI language.
    void Empty();
    // Trims the text; adds nothing for an empty text or an end before the start.
    void AddEntry(std::wstring text, bool unicode, int32_t start, int32_t end,
        std::wstring style = L"Default", std::wstring actor = std::wstring(),
        std::wstring effect = std::wstring(), CRectMargins margins = CRectMargins(),
        int32_t layer = 0, int32_t readOrder = -1);
    // On a clash with a different style, the existing one moves to a numbered name.
    void InsertStyle(std::wstring name, const STSStyle& style);
    void EnsureDefaultStyle();
    void RemapUnknownStyles(const UnknownStyleNotice& notice);
    const STSStyle* FindStyle(const std::wstring& name) const;
    STSStyle* FindStyle(const std::wstring& name);

private:
    std::wstring FreeNumberedName(const std::wstring& taken);

    // Where the search for a free numbered name last stopped, per clashing name: names are never
    // freed until Empty(), so a later clash on the same name resumes there.
    std::unordered_map<std::wstring, int64_t> m_nextNumber;
};

} // namespace subvoro
