#include "sts_model.h"

#include "text_util.h"

#include <set>

namespace subvoro {

bool STSStyle::SameAs(const STSStyle& o) const
{
    for (int i = 0; i < 4; ++i) {
        if (colors[i] != o.colors[i] || alpha[i] != o.alpha[i])
            return false;
    }
    return margins == o.margins && alignment == o.alignment && borderStyle == o.borderStyle
        && outlineWidthX == o.outlineWidthX && outlineWidthY == o.outlineWidthY
        && shadowDepthX == o.shadowDepthX && shadowDepthY == o.shadowDepthY && charSet == o.charSet
        && fontName == o.fontName && fontSize == o.fontSize && fontScaleX == o.fontScaleX
        && fontScaleY == o.fontScaleY && fontSpacing == o.fontSpacing && fontWeight == o.fontWeight
        && italic == o.italic && underline == o.underline && strikeOut == o.strikeOut
        && furtherA == o.furtherA && furtherB == o.furtherB && angleZ == o.angleZ
        && angleX == o.angleX && angleY == o.angleY && furtherC == o.furtherC;
}

void CSimpleTextSubtitle::Empty()
{
    entries.clear();
    styles.clear();
    m_nextNumber.clear();
    screenWidth = 0;
    screenHeight = 0;
    defaultStyleGenerated = false;
}

void CSimpleTextSubtitle::AddEntry(std::wstring text, bool unicode, int32_t start, int32_t end,
    std::wstring style, std::wstring actor, std::wstring effect, CRectMargins margins,
    int32_t layer, int32_t readOrder)
{
    text = Trim(text);
    if (text.empty() || end < start)
        return;
    std::erase(text, L'\r');
    const size_t stars = style.find_first_not_of(L'*');
    style.erase(0, stars == std::wstring::npos ? style.size() : stars);
    if (style.empty())
        style = L"Default";
    STSEntry entry;
    entry.text = std::move(text);
    entry.unicode = unicode;
    entry.style = std::move(style);
    entry.actor = std::move(actor);
    entry.effect = std::move(effect);
    entry.margins = margins;
    entry.layer = layer;
    entry.readOrder = readOrder;
    entry.start = start;
    entry.end = end;
    entries.push_back(std::move(entry));
}

std::wstring CSimpleTextSubtitle::FreeNumberedName(const std::wstring& taken)
{
    size_t digitsAt = taken.size();
    while (digitsAt > 0 && taken[digitsAt - 1] >= L'0' && taken[digitsAt - 1] <= L'9')
        --digitsAt;
    std::wstring base = taken;
    int64_t number = 1;
    if (digitsAt < taken.size()) {
        base = taken.substr(0, digitsAt);
        number = 0;
        for (size_t i = digitsAt; i < taken.size() && number < (int64_t(1) << 40); ++i)
            number = number * 10 + (taken[i] - L'0');
    }
    int64_t& hint = m_nextNumber[taken];
    for (int64_t n = std::max(number + 1, hint);; ++n) {
        std::wstring candidate = base + std::to_wstring(n);
        if (!styles.contains(candidate)) {
            hint = n + 1;
            return candidate;
        }
    }
}

void CSimpleTextSubtitle::InsertStyle(std::wstring styleName, const STSStyle& style)
{
    if (styleName.empty())
        styleName = L"Default";
    auto found = styles.find(styleName);
    if (found == styles.end()) {
        styles.emplace(std::move(styleName), style);
        return;
    }
    if (found->second.SameAs(style))
        return;
    const std::wstring moved = FreeNumberedName(styleName);
    styles.emplace(moved, found->second);
    for (STSEntry& entry : entries) {
        if (entry.style == styleName)
            entry.style = moved;
    }
    found->second = style;
}

void CSimpleTextSubtitle::EnsureDefaultStyle()
{
    if (styles.contains(L"Default")) {
        defaultStyleGenerated = false;
        return;
    }
    STSStyle style;
    style.charSet = 1;
    styles.emplace(L"Default", style);
    defaultStyleGenerated = true;
}

void CSimpleTextSubtitle::RemapUnknownStyles(const UnknownStyleNotice& notice)
{
    bool warn = true;
    std::set<std::wstring> met;
    for (STSEntry& entry : entries) {
        if (styles.contains(entry.style))
            continue;
        if (met.insert(entry.style).second && warn && notice)
            warn = notice(entry.style, entry.unicode);
        entry.style = L"Default";
    }
}

const STSStyle* CSimpleTextSubtitle::FindStyle(const std::wstring& styleName) const
{
    auto found = styles.find(styleName);
    return found == styles.end() ? nullptr : &found->second;
}

STSStyle* CSimpleTextSubtitle::FindStyle(const std::wstring& styleName)
{
    auto found = styles.find(styleName);
    return found == styles.end() ? nullptr : &found->second;
}

} // namespace subvoro
