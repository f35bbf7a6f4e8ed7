#include "subtitle_writer.h"

#include "code_page.h"
#include "text_util.h"

#include <new>

namespace subvoro {

namespace {

    constexpr const char* kExtensions[EXTTYPE_COUNT]
        = { "srt", "sub", "smi", "psb", "ssa", "ass", "idx", "usf", "xss", "txt", "ssf", "rt" };

    const wchar_t* const kSamiHead[] = {
        L"<SAMI>",
        L"<HEAD>",
        L"<STYLE TYPE=\"text/css\">",
        L"<!--",
        L"P {margin-left: 16pt; margin-right: 16pt; margin-bottom: 16pt; margin-top: 16pt;",
        (L"   text-align: center; font-size: 18pt; font-family: arial; font-weight: bold; "
         L"color: #f0f0f0;}"),
        L".UNKNOWNCC {Name:Unknown; lang:en-US; SAMIType:CC;}",
        L"-->",
        L"</STYLE>",
        L"</HEAD>",
        L"",
        L"<BODY>",
    };

    const wchar_t* const kAssStyleFormat
        = L"Format: Name, Fontname, Fontsize, PrimaryColour, "
          L"SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
          L"Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
          L"BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
          L"MarginV, Encoding";
    const wchar_t* const kSsaStyleFormat
        = L"Format: Name, Fontname, Fontsize, PrimaryColour, "
          L"SecondaryColour, TertiaryColour, BackColour, Bold, Italic, "
          L"BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
          L"MarginV, AlphaLevel, Encoding";

    bool IsSsaType(exttype type)
    {
        return type == EXTSSA || type == EXTASS;
    }

    int32_t MarginV(const CRectMargins& m)
    {
        return int32_t((int64_t(m.top) + m.bottom) / 2);
    }

    int32_t BorderStyleOut(int32_t style)
    {
        return style == 0 ? 1 : style == 1 ? 3 : 0;
    }

    int32_t AlignmentToSsa(int32_t n)
    {
        if (n >= 1 && n <= 3)
            return n;
        if (n >= 4 && n <= 6)
            return (n - 3) | 8;
        if (n >= 7 && n <= 9)
            return (n - 6) | 4;
        return 2;
    }

    // Everything of an ASS style line after "Style: name,".
    std::wstring AssStyleFields(const STSStyle& s)
    {
        uint32_t colours[4];
        for (int n = 0; n < 4; ++n)
            colours[n] = (uint32_t(s.alpha[n]) << 24) | (s.colors[n] & 0xFFFFFF);
        return s.fontName
            + Format(",%d,&H%08x,&H%08x,&H%08x,&H%08x,%d,%d,%d,%d,%d,%d,%d,",
                TruncateToInt(s.fontSize), colours[0], colours[1], colours[2], colours[3],
                s.fontWeight > 400 ? -1 : 0, s.italic ? -1 : 0, s.underline ? -1 : 0,
                s.strikeOut ? -1 : 0, TruncateToInt(s.fontScaleX), TruncateToInt(s.fontScaleY),
                TruncateToInt(s.fontSpacing))
            + FormatFixed(s.angleZ, 2)
            + Format(",%d,%d,%d,%d,%d,%d,%d,%d", BorderStyleOut(s.borderStyle),
                TruncateToInt(s.outlineWidthX), TruncateToInt(s.shadowDepthX), s.alignment,
                s.margins.left, s.margins.right, MarginV(s.margins), s.charSet);
    }

    std::wstring SsaStyleFields(const STSStyle& s)
    {
        return s.fontName
            + Format(",%d,&H%06x,&H%06x,&H%06x,&H%06x,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d",
                TruncateToInt(s.fontSize), s.colors[0] & 0xFFFFFF, s.colors[1] & 0xFFFFFF,
                s.colors[2] & 0xFFFFFF, s.colors[3] & 0xFFFFFF, s.fontWeight > 400 ? -1 : 0,
                s.italic ? -1 : 0, BorderStyleOut(s.borderStyle), TruncateToInt(s.outlineWidthX),
                TruncateToInt(s.shadowDepthX), AlignmentToSsa(s.alignment), s.margins.left,
                s.margins.right, MarginV(s.margins), 0, s.charSet);
    }

    void WriteSsaHeader(const CSimpleTextSubtitle& sts, CTextFile& out, exttype type)
    {
        const bool ass = type == EXTASS;
        std::wstring head = L"[Script Info]\n";
        if (ass) {
            head += L"; This is an Advanced Sub Station Alpha v4+ script.\n"
                    L"; Written by Subvoro, the VembaCast subtitle converter.\n; \n"
                    L"; Times are h:mm:ss.cc; sizes and margins are in PlayRes pixels.\n; \n"
                    L"; Text in braces holds override codes; \\N breaks a line.\n; \n";
        } else {
            head += L"; This is a Sub Station Alpha v4 script.\n"
                    L"; Written by Subvoro, the VembaCast subtitle converter.\n; \n";
        }
        head += L"; The engine reads this script as it stands.\n; \n";
        head += ass ? L"ScriptType: v4.00+\n" : L"ScriptType: v4.00\n";
        head += sts.reverseCollisions ? L"Collisions: Reverse\n" : L"Collisions: Normal\n";
        if (ass && sts.scaledBorderAndShadow)
            head += L"ScaledBorderAndShadow: Yes\n";
        head += Format("PlayResX: %d\nPlayResY: %d\n", sts.screenWidth, sts.screenHeight);
        head += L"Timer: 100.0000\n\n";
        head += ass ? L"[V4+ Styles]\n" : L"[V4 Styles]\n";
        head += std::wstring(ass ? kAssStyleFormat : kSsaStyleFormat) + L"\n";
        out.WriteString(head);
        for (const auto& [name, style] : sts.styles)
            out.WriteString(L"Style: " + name + L","
                + (ass ? AssStyleFields(style) : SsaStyleFields(style)) + L"\n");
        if (sts.entries.empty())
            return;
        out.WriteString(ass
                ? L"\n[Events]\nFormat: Layer, Start, End, Style, Actor, MarginL, MarginR, "
                  L"MarginV, Effect, Text\n"
                : L"\n[Events]\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, "
                  L"MarginV, Effect, Text\n");
    }

    int32_t EntryTime(const CSimpleTextSubtitle& sts, int32_t t, double frameRate)
    {
        if (sts.mode == TimeMode::Milliseconds)
            return t;
        return TruncateToInt(double(t) * 1000.0 / frameRate);
    }

    struct CClock {
        int32_t h, m, s, ms;
        explicit CClock(int32_t t)
            : h(t / 3600000)
            , m((t / 60000) % 60)
            , s((t / 1000) % 60)
            , ms(t % 1000)
        {
        }
    };

    // The entry's text in the output's form: tags as the type wants them, converted to Unicode
    // or to the multi-byte text of its style's character set as the encoding wants it.
    std::wstring OutputText(
        const CSimpleTextSubtitle& sts, const STSEntry& e, bool keepTags, TextEncoding enc)
    {
        std::wstring text = keepTags ? e.text : RemoveSsaTags(e.text);
        const STSStyle* style = sts.FindStyle(e.style);
        const int charSet = style ? style->charSet : kDefaultCharSet;
        const bool unicodeOut = IsUnicodeEncoding(enc) || enc == TextEncoding::Ansi;
        if (unicodeOut && !e.unicode)
            return MultiByteToWide(text, charSet);
        if (!unicodeOut && e.unicode)
            return WideToMultiByte(text, charSet);
        return text;
    }

    std::wstring EntryLine(const CSimpleTextSubtitle& sts, const STSEntry& e, exttype type,
        double frameRate, int32_t number, std::wstring text)
    {
        const int32_t start = EntryTime(sts, e.start, frameRate);
        const int32_t end = EntryTime(sts, e.end, frameRate);
        const CClock a(start), b(end);
        switch (type) {
        case EXTSRT:
            return Format("%d\n%02d:%02d:%02d,%03d --> %02d:%02d:%02d,%03d\n", number, a.h, a.m,
                       a.s, a.ms, b.h, b.m, b.s, b.ms)
                + text + L"\n\n";
        case EXTSUB:
            return Format("{%d}{%d}", TruncateToInt(start * frameRate / 1000),
                       TruncateToInt(end * frameRate / 1000))
                + ReplaceAll(text, L"\n", L"|") + L"\n";
        case EXTSMI:
            return Format("<SYNC Start=%d><P Class=UNKNOWNCC>\n", start)
                + ReplaceAll(text, L"\n", L"<br>")
                + Format("\n<SYNC Start=%d><P Class=UNKNOWNCC>&nbsp;\n", end);
        case EXTPSB:
            return Format("{%d:%02d:%02d}{%d:%02d:%02d}", a.h, a.m, a.s, b.h, b.m, b.s)
                + ReplaceAll(text, L"\n", L"|") + L"\n";
        case EXTSSA:
        case EXTASS: {
            std::wstring head
                = type == EXTSSA ? L"Dialogue: Marked=0," : Format("Dialogue: %d,", e.layer);
            head += Format("%d:%02d:%02d.%02d,%d:%02d:%02d.%02d,", a.h, a.m, a.s, a.ms / 10, b.h,
                b.m, b.s, b.ms / 10);
            return head + e.style + L"," + e.actor
                + Format(",%04d,%04d,%04d,", e.margins.left, e.margins.right, MarginV(e.margins))
                + e.effect + L"," + ReplaceAll(text, L"\n", L"\\N") + L"\n";
        }
        default:
            return std::wstring();
        }
    }

    char* CopyText(const std::string& text)
    {
        char* copy = new (std::nothrow) char[text.size() + 1];
        if (copy) {
            text.copy(copy, text.size());
            copy[text.size()] = '\0';
        }
        return copy;
    }

} // namespace

const char* ExtensionOf(exttype type)
{
    return (type >= 0 && type < EXTTYPE_COUNT) ? kExtensions[type] : nullptr;
}

std::string CompleteOutputName(const std::string& path, exttype type)
{
    const std::string ext = ExtensionOf(type);
    const size_t dot = path.rfind('.');
    const std::string current = dot == std::string::npos ? path : path.substr(dot + 1);
    if (EqualsNoCase(BytesToWide(current), BytesToWide(ext)))
        return path;
    return path + (!path.empty() && path.back() == '.' ? "" : ".") + ext;
}

std::wstring RemoveSsaTags(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size());
    // The next '}' and '\\' are remembered, so a run of unclosed braces stays linear.
    size_t close = 0;
    size_t backslash = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'{') {
            if (close != std::wstring::npos && close <= i)
                close = text.find(L'}', i);
            if (backslash != std::wstring::npos && backslash <= i)
                backslash = text.find(L'\\', i);
            if (close != std::wstring::npos && backslash < close) {
                i = close;
                continue;
            }
        }
        if (c == L'\\' && i + 1 < text.size()) {
            const wchar_t next = text[i + 1];
            if (next == L'N' || next == L'n' || next == L'h') {
                out.push_back(next == L'h' ? L' ' : L'\n');
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

void WriteSubtitle(const CSimpleTextSubtitle& sts, CTextFile& out, exttype type, double frameRate)
{
    if (frameRate <= 0.0)
        frameRate = kFallbackFrameRate;
    if (type == EXTSMI) {
        for (const wchar_t* line : kSamiHead)
            out.WriteString(std::wstring(line) + L"\n");
    } else if (IsSsaType(type)) {
        WriteSsaHeader(sts, out, type);
    }
    int32_t skipped = 0;
    for (size_t i = 0; i < sts.entries.size(); ++i) {
        const STSEntry& e = sts.entries[i];
        if (EntryTime(sts, e.start, frameRate) < 0) {
            ++skipped;
            continue;
        }
        const int32_t number = SaturateInt(int64_t(i) - skipped + 1);
        out.WriteString(EntryLine(sts, e, type, frameRate, number,
            OutputText(sts, e, IsSsaType(type), out.GetEncoding())));
    }
    if (type == EXTSMI)
        out.WriteString(L"</BODY>\n</SAMI>\n");
}

void WriteStyleCompanion(const CSimpleTextSubtitle& sts, CTextFile& out)
{
    const STSStyle* style = sts.FindStyle(L"Default");
    if (!style)
        return;
    out.WriteString(Format("ScriptType: v4.00+\nPlayResX: %d\nPlayResY: %d\n\n[V4+ Styles]\n",
                        sts.screenWidth, sts.screenHeight)
        + kAssStyleFormat + L"\nStyle: Default," + AssStyleFields(*style) + L"\n");
}

bool SaveSubtitleFile(const CSimpleTextSubtitle& sts, const std::string& path, exttype type,
    double frameRate, TextEncoding encoding)
{
    if (!ExtensionOf(type))
        return false;
    const std::string name = CompleteOutputName(path, type);
    CTextFile out;
    if (!out.Save(name, encoding))
        return false;
    WriteSubtitle(sts, out, type, frameRate);
    bool ok = out.Close();
    if (!IsSsaType(type) && sts.FindStyle(L"Default") && !sts.defaultStyleGenerated) {
        CTextFile companion;
        if (!companion.Save(name + ".style", encoding))
            return false;
        WriteStyleCompanion(sts, companion);
        ok = companion.Close() && ok;
    }
    return ok;
}

bool FillTimedList(
    const CSimpleTextSubtitle& sts, SubtitleList_t* list, exttype type, double frameRate)
{
    if (!list)
        return false;
    list->Free();
    if (frameRate <= 0.0)
        frameRate = kFallbackFrameRate;
    if (sts.entries.size() > size_t(INT32_MAX / 2))
        return false;
    const int count = int(sts.entries.size() * 2);
    SubtitleItem_t* items = new (std::nothrow) SubtitleItem_t[size_t(count)]();
    if (!items)
        return false;
    list->pItems = items;
    list->nCount = count;
    for (size_t i = 0; i < sts.entries.size(); ++i) {
        const STSEntry& e = sts.entries[i];
        const int32_t start = EntryTime(sts, e.start, frameRate);
        if (start < 0)
            continue; // its two items stay empty, so every entry keeps its place
        const std::string text
            = WideToBytes(OutputText(sts, e, IsSsaType(type), TextEncoding::Ascii));
        items[2 * i] = { start, CopyText(text) };
        items[2 * i + 1] = { EntryTime(sts, e.end, frameRate), CopyText(" ") };
        if (!items[2 * i].pszText || !items[2 * i + 1].pszText)
            return false;
    }
    return true;
}

} // namespace subvoro
