// SubStation Alpha and Advanced SubStation Alpha: a state machine over the script's sections.
// It reads the ".style" companion of a subtitle file, so it is lenient: a line it does not know
// is passed over, and a style line with missing fields keeps the defaults of those fields.
#include "readers.h"
#include "text_util.h"

#include <vector>

namespace subvoro {

namespace {

    enum class Section { None, ScriptInfo, Styles, Events, Fonts, Other };
    enum class Version { V4, V4Plus, V4PlusPlus };

    struct CScriptState {
        Section section = Section::None;
        Version version = Version::V4Plus;
        bool hasWidth = false;
        bool hasHeight = false;
        int32_t width = 0;
        int32_t height = 0;
        std::wstring fontName; // the embedded font being gathered, if any
        std::wstring fontData;
    };

    // The first `count` comma-separated fields; the last field keeps the rest of the line.
    std::vector<std::wstring> SplitFields(const std::wstring& value, size_t count)
    {
        std::vector<std::wstring> fields;
        size_t pos = 0;
        while (fields.size() + 1 < count) {
            const size_t comma = value.find(L',', pos);
            if (comma == std::wstring::npos)
                break;
            fields.push_back(Trim(value.substr(pos, comma - pos)));
            pos = comma + 1;
        }
        fields.push_back(value.substr(pos));
        return fields;
    }

    std::wstring StyleName(std::wstring name)
    {
        name = Trim(name);
        const size_t stars = name.find_first_not_of(L'*');
        name.erase(0, stars == std::wstring::npos ? name.size() : stars);
        return EqualsNoCase(name, L"Default") ? L"Default" : name;
    }

    // Reads field i of a style line into a style field, keeping the default when absent or bad.
    class CFieldReader {
    public:
        explicit CFieldReader(const std::vector<std::wstring>& fields)
            : m_fields(fields)
        {
        }
        bool Has(size_t i) const { return i < m_fields.size() && !Trim(m_fields[i]).empty(); }
        void Int(size_t i, int32_t& out) const
        {
            if (Has(i))
                ParseInt(m_fields[i], out);
        }
        void Double(size_t i, double& out) const
        {
            if (Has(i))
                ParseDouble(m_fields[i], out);
        }
        void Flag(size_t i, bool& out) const
        {
            int32_t v = 0;
            if (Has(i) && ParseInt(m_fields[i], v))
                out = v != 0;
        }
        void Colour(size_t i, STSStyle& style, int n) const
        {
            uint32_t v = 0;
            if (Has(i) && ParseColour(m_fields[i], v)) {
                style.colors[n] = v & 0xFFFFFF;
                style.alpha[n] = uint8_t(v >> 24);
            }
        }
        void Both(size_t i, double& first, double& second) const
        {
            if (Has(i) && ParseDouble(m_fields[i], first))
                second = first;
        }

    private:
        const std::vector<std::wstring>& m_fields;
    };

    int32_t AlignmentFromSsa(int32_t n)
    {
        if (n & 4)
            return (n & 3) + 6; // top row
        if (n & 8)
            return (n & 3) + 3; // middle row
        return (n & 3) ? (n & 3) : 2;
    }

    void ReadStyle(const std::wstring& value, Version version, CSimpleTextSubtitle& sts)
    {
        const std::vector<std::wstring> f = SplitFields(value, 30);
        const CFieldReader r(f);
        STSStyle s;
        if (r.Has(1))
            s.fontName = Trim(f[1]);
        r.Double(2, s.fontSize);
        for (int n = 0; n < 4; ++n)
            r.Colour(3 + size_t(n), s, n);
        int32_t bold = 1;
        r.Int(7, bold);
        s.fontWeight = bold ? 700 : 400;
        r.Flag(8, s.italic);
        size_t i = 9; // where the common tail of fields starts
        if (version != Version::V4) {
            r.Flag(9, s.underline);
            r.Flag(10, s.strikeOut);
            r.Double(11, s.fontScaleX);
            r.Double(12, s.fontScaleY);
            r.Double(13, s.fontSpacing);
            r.Double(14, s.angleZ);
            i = 15;
        }
        int32_t border = 1;
        r.Int(i, border);
        s.borderStyle = border == 3 ? 1 : 0;
        r.Both(i + 1, s.outlineWidthX, s.outlineWidthY);
        r.Both(i + 2, s.shadowDepthX, s.shadowDepthY);
        int32_t alignment = s.alignment;
        r.Int(i + 3, alignment);
        s.alignment = version == Version::V4 ? AlignmentFromSsa(alignment)
                                             : (alignment >= 1 && alignment <= 9 ? alignment : 2);
        r.Int(i + 4, s.margins.left);
        r.Int(i + 5, s.margins.right);
        r.Int(i + 6, s.margins.top);
        size_t next = i + 7;
        if (version == Version::V4PlusPlus)
            r.Int(next++, s.margins.bottom);
        else
            s.margins.bottom = s.margins.top;
        if (version == Version::V4)
            ++next; // the alpha level is carried by the colours' high bytes
        r.Int(next, s.charSet);
        sts.InsertStyle(StyleName(f[0]), s);
    }

    int32_t ParseTime(const std::wstring& text)
    {
        CLineScanner scan(text);
        int32_t h = 0, m = 0, s = 0, cs = 0;
        if (!(scan.Int(h) && scan.Char(L':') && scan.Int(m) && scan.Char(L':') && scan.Int(s)))
            return -1;
        if (scan.Char(L'.') || scan.Char(L','))
            scan.Int(cs);
        return SaturateInt(((int64_t(h) * 60 + m) * 60 + s) * 1000 + int64_t(cs) * 10);
    }

    void ReadDialogue(
        const std::wstring& value, Version version, bool unicode, CSimpleTextSubtitle& sts)
    {
        const size_t count = version == Version::V4PlusPlus ? 11 : 10;
        const std::vector<std::wstring> f = SplitFields(value, count);
        if (f.size() < count)
            return;
        int32_t layer = 0;
        if (!StartsWithNoCase(f[0], L"Marked="))
            ParseInt(f[0], layer);
        const int32_t start = ParseTime(f[1]);
        const int32_t end = ParseTime(f[2]);
        if (start < 0 || end < 0)
            return;
        CRectMargins margins;
        ParseInt(f[5], margins.left);
        ParseInt(f[6], margins.right);
        ParseInt(f[7], margins.top);
        margins.bottom = margins.top;
        if (version == Version::V4PlusPlus)
            ParseInt(f[8], margins.bottom);
        sts.AddEntry(
            f[count - 1], unicode, start, end, StyleName(f[3]), f[4], f[count - 2], margins, layer);
    }

    void ReadScriptInfo(const std::wstring& key, const std::wstring& value, CScriptState& st,
        CSimpleTextSubtitle& sts)
    {
        const std::wstring lower = ToLowerAscii(value);
        if (key == L"playresx") {
            st.hasWidth = ParseInt(value, st.width);
        } else if (key == L"playresy") {
            st.hasHeight = ParseInt(value, st.height);
        } else if (key == L"scripttype") {
            if (lower == L"v4.00" || lower == L"4.00")
                st.version = Version::V4;
            else if (lower == L"v4.00+" || lower == L"4.00+")
                st.version = Version::V4Plus;
            else if (lower == L"v4.00++" || lower == L"4.00++")
                st.version = Version::V4PlusPlus;
        } else if (key == L"collisions") {
            sts.reverseCollisions = Contains(lower, L"reverse");
        } else if (key == L"scaledborderandshadow") {
            sts.scaledBorderAndShadow = Contains(lower, L"yes");
        }
        // "wrapstyle" and the informational keys have no place in the model.
    }

    void FinishFont(CScriptState& st, const ReadContext& ctx)
    {
        if (!st.fontName.empty() && ctx.fontSink) {
            const std::string data = DecodeEmbeddedFont(st.fontData);
            if (!data.empty())
                ctx.fontSink(st.fontName, data);
        }
        st.fontName.clear();
        st.fontData.clear();
    }

    bool IsKnownSection(const std::wstring& line)
    {
        static const wchar_t* const kSections[] = { L"[script info]", L"[v4 styles]",
            L"[v4+ styles]", L"[v4++ styles]", L"[events]", L"[fonts]", L"[graphics]" };
        const std::wstring lower = ToLowerAscii(line);
        for (const wchar_t* section : kSections) {
            if (lower == section)
                return true;
        }
        return false;
    }

    void EnterSection(const std::wstring& line, CScriptState& st, const ReadContext& ctx)
    {
        FinishFont(st, ctx);
        const std::wstring lower = ToLowerAscii(line);
        st.section = Section::Other;
        if (lower == L"[script info]") {
            st.section = Section::ScriptInfo;
        } else if (lower == L"[v4 styles]" || lower == L"[v4+ styles]"
            || lower == L"[v4++ styles]") {
            st.section = Section::Styles;
            st.version = lower == L"[v4 styles]" ? Version::V4
                : lower == L"[v4+ styles]"       ? Version::V4Plus
                                                 : Version::V4PlusPlus;
        } else if (lower == L"[events]") {
            st.section = Section::Events;
        } else if (lower == L"[fonts]") {
            st.section = Section::Fonts;
        }
    }

    void ApplyScreenSize(const CScriptState& st, CSimpleTextSubtitle& sts)
    {
        if (st.hasWidth && st.hasHeight) {
            sts.screenWidth = st.width;
            sts.screenHeight = st.height;
        } else if (st.hasHeight) {
            sts.screenHeight = st.height;
            sts.screenWidth = st.height == 1024 ? 1280 : SaturateInt(int64_t(st.height) * 4 / 3);
        } else if (st.hasWidth) {
            sts.screenWidth = st.width;
            sts.screenHeight = st.width == 1280 ? 1024 : SaturateInt(int64_t(st.width) * 3 / 4);
        }
    }

} // namespace

std::string DecodeEmbeddedFont(const std::wstring& encoded)
{
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (wchar_t c : encoded) {
        if (c < 33 || c > 96)
            continue; // not a character of the encoding (line breaks, blanks)
        bits = (bits << 6) | uint32_t(c - 33);
        if (++count == 4) {
            out.push_back(char((bits >> 16) & 0xFF));
            out.push_back(char((bits >> 8) & 0xFF));
            out.push_back(char(bits & 0xFF));
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out.push_back(char((bits >> 4) & 0xFF));
    } else if (count == 3) {
        out.push_back(char((bits >> 10) & 0xFF));
        out.push_back(char((bits >> 2) & 0xFF));
    }
    return out;
}

bool ReadSubStationAlpha(CTextFile& file, CSimpleTextSubtitle& sts, const ReadContext& ctx)
{
    const bool unicode = IsUnicodeEncoding(file.GetEncoding());
    const size_t entriesBefore = sts.entries.size();
    CScriptState st;
    std::wstring raw;
    while (file.ReadString(raw)) {
        const std::wstring line = Trim(raw);
        if (line.empty())
            continue;
        // Font data may begin with '[' or ';', so inside fonts only a known section ends them.
        if (st.section == Section::Fonts && !IsKnownSection(line)) {
            if (StartsWithNoCase(line, L"fontname:")) {
                FinishFont(st, ctx);
                st.fontName = Trim(line.substr(9));
            } else if (!st.fontName.empty()) {
                st.fontData += line;
            }
            continue;
        }
        if (line[0] == L';')
            continue;
        if (line[0] == L'[') {
            EnterSection(line, st, ctx);
            continue;
        }
        const size_t colon = line.find(L':');
        if (colon == std::wstring::npos)
            continue;
        const std::wstring key = ToLowerAscii(Trim(line.substr(0, colon)));
        const std::wstring value = Trim(line.substr(colon + 1));
        if (st.section == Section::ScriptInfo)
            ReadScriptInfo(key, value, st, sts);
        else if (st.section == Section::Styles && key == L"style")
            ReadStyle(value, st.version, sts);
        else if (st.section == Section::Events && key == L"dialogue")
            ReadDialogue(value, st.version, unicode, sts);
    }
    FinishFont(st, ctx);
    ApplyScreenSize(st, sts);
    return sts.entries.size() > entriesBefore;
}

} // namespace subvoro
