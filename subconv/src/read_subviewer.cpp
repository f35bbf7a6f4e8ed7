// SubViewer: "h:m:s.cc,h:m:s.cc" time lines, each followed by its text line, and header lines of
// bracketed tags that set the font, colour, size and style of the texts after them.
#include "readers.h"
#include "text_util.h"

namespace subvoro {

namespace {

    struct CViewerLook {
        std::wstring font = L"Arial";
        uint32_t colour = 0xFFFFFF;
        int32_t size = 18;
        bool bold = false;
        bool italic = false;
        bool strikeOut = false;
        bool underline = false;
    };

    void ApplyTag(CViewerLook& look, const std::wstring& name, const std::wstring& value)
    {
        if (name == L"font") {
            look.font = value;
        } else if (name == L"colf") {
            ParseColour(value, look.colour);
        } else if (name == L"size") {
            ParseInt(value, look.size);
        } else if (name == L"style") {
            const std::wstring style = ToLowerAscii(value);
            if (Contains(style, L"no"))
                look = { look.font, look.colour, look.size };
            look.bold |= Contains(style, L"bd");
            look.italic |= Contains(style, L"it");
            look.strikeOut |= Contains(style, L"st");
            look.underline |= Contains(style, L"ud");
        }
    }

    // "[NAME]value,[NAME]value..."; a value runs up to the next ",[" or the end of the line.
    void ParseHeaderLine(const std::wstring& line, CViewerLook& look)
    {
        size_t pos = 0;
        while (pos < line.size() && line[pos] == L'[') {
            const size_t close = line.find(L']', pos);
            if (close == std::wstring::npos)
                return;
            const size_t next = line.find(L",[", close + 1);
            const size_t valueEnd = next == std::wstring::npos ? line.size() : next;
            ApplyTag(look, ToLowerAscii(line.substr(pos + 1, close - pos - 1)),
                Trim(line.substr(close + 1, valueEnd - close - 1)));
            pos = next == std::wstring::npos ? line.size() : next + 1;
        }
    }

    // The look's settings that differ from the default style, as one override block.
    std::wstring Overrides(const CViewerLook& look)
    {
        const STSStyle base;
        std::wstring codes;
        if (look.font != base.fontName)
            codes += L"\\fn" + look.font;
        if (look.colour != base.colors[0])
            codes += Format("\\c&H%x&", look.colour);
        if (double(look.size) != base.fontSize)
            codes += Format("\\fs%d", look.size);
        if (look.bold && base.fontWeight <= 400)
            codes += L"\\b1";
        if (look.italic && !base.italic)
            codes += L"\\i1";
        if (look.strikeOut && !base.strikeOut)
            codes += L"\\s1";
        if (look.underline && !base.underline)
            codes += L"\\u1";
        return codes.empty() ? codes : L"{" + codes + L"}";
    }

    bool ScanClock(CLineScanner& scan, int32_t& time)
    {
        int32_t h = 0, m = 0, s = 0, cs = 0;
        wchar_t sep = 0;
        if (!(scan.Int(h) && scan.Char(L':') && scan.Int(m) && scan.Char(L':') && scan.Int(s)
                && scan.AnyChar(sep) && scan.Int(cs)))
            return false;
        time = SaturateInt(((int64_t(h) * 60 + m) * 60 + s) * 1000 + int64_t(cs) * 10);
        return true;
    }

} // namespace

bool ReadSubViewer(CTextFile& file, CSimpleTextSubtitle& sts, const ReadContext&)
{
    const bool unicode = IsUnicodeEncoding(file.GetEncoding());
    CViewerLook look;
    std::wstring raw;
    while (file.ReadString(raw)) {
        const std::wstring line = Trim(raw);
        if (line.empty())
            continue;
        if (line[0] == L'[') {
            ParseHeaderLine(line, look);
            continue;
        }
        CLineScanner scan(line);
        int32_t start = 0, end = 0;
        if (!(ScanClock(scan, start) && scan.Char(L',') && ScanClock(scan, end)))
            return false;
        std::wstring text;
        if (file.ReadString(text))
            text = ReplaceNoCase(Trim(text), L"[br]", L"\n");
        if (!Trim(text).empty())
            text = Overrides(look) + text;
        sts.AddEntry(text, unicode, start, end);
    }
    return !sts.entries.empty();
}

} // namespace subvoro
