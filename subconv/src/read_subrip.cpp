// SubRip ("h:m:s,ms --> h:m:s,ms" with counters) and the older brace-timed SubRip.
#include "readers.h"
#include "text_util.h"

namespace subvoro {

namespace {

    int32_t Milliseconds(int32_t h, int32_t m, int32_t s, int32_t ms)
    {
        return SaturateInt(((int64_t(h) * 60 + m) * 60 + s) * 1000 + ms);
    }

    // A line holding a single number and nothing after it.
    bool IsCounterLine(const std::wstring& line)
    {
        CLineScanner scan(line);
        int32_t number = 0;
        wchar_t after = 0;
        return scan.Int(number) && !scan.AnyChar(after);
    }

    // h, m, s and ms with any one character between them.
    bool ScanClock(CLineScanner& scan, int32_t& time)
    {
        int32_t h = 0, m = 0, s = 0, ms = 0;
        wchar_t sep = 0;
        if (!(scan.Int(h) && scan.AnyChar(sep) && scan.Int(m) && scan.AnyChar(sep) && scan.Int(s)
                && scan.AnyChar(sep) && scan.Int(ms)))
            return false;
        time = Milliseconds(h, m, s, ms);
        return true;
    }

    bool ParseTimeLine(const std::wstring& line, int32_t& start, int32_t& end)
    {
        CLineScanner scan(line);
        if (!ScanClock(scan, start))
            return false;
        scan.SkipSpace();
        if (!scan.Literal(L"-->"))
            return false;
        return ScanClock(scan, end);
    }

    // The lines after a time line, up to an empty line that a counter line follows.
    std::wstring ReadText(CTextFile& file)
    {
        std::wstring text;
        bool first = true;
        std::wstring raw;
        while (file.ReadString(raw)) {
            const std::wstring line = Trim(raw);
            if (line.empty()) {
                const int64_t afterEmpty = file.GetPosition();
                std::wstring next;
                if (!file.ReadString(next) || IsCounterLine(Trim(next)))
                    break;
                file.Seek(afterEmpty, CTextFile::SeekFrom::Begin);
            }
            if (!first)
                text += L'\n';
            text += line;
            first = false;
        }
        return text;
    }

    std::wstring ConvertTags(std::wstring text)
    {
        static const wchar_t* const kTags[][2] = {
            { L"<i>", L"{\\i1}" },
            { L"</i>", L"{\\i}" },
            { L"<b>", L"{\\b1}" },
            { L"</b>", L"{\\b}" },
            { L"<u>", L"{\\u1}" },
            { L"</u>", L"{\\u}" },
        };
        for (const auto& tag : kTags)
            text = ReplaceNoCase(text, tag[0], tag[1]);
        return text;
    }

} // namespace

bool ReadSubRip(CTextFile& file, CSimpleTextSubtitle& sts, const ReadContext&)
{
    const bool unicode = IsUnicodeEncoding(file.GetEncoding());
    std::wstring raw;
    while (file.ReadString(raw)) {
        const std::wstring line = Trim(raw);
        if (line.empty() || IsCounterLine(line))
            continue;
        int32_t start = 0, end = 0;
        if (!ParseTimeLine(line, start, end))
            return false;
        sts.AddEntry(ConvertTags(ReadText(file)), unicode, start, end);
    }
    return !sts.entries.empty();
}

bool ReadOldSubRip(CTextFile& file, CSimpleTextSubtitle& sts, const ReadContext&)
{
    const bool unicode = IsUnicodeEncoding(file.GetEncoding());
    std::wstring raw;
    while (file.ReadString(raw)) {
        const std::wstring line = Trim(raw);
        if (line.empty())
            continue;
        CLineScanner scan(line);
        int32_t h1 = 0, m1 = 0, s1 = 0, h2 = 0, m2 = 0, s2 = 0;
        if (!(scan.Char(L'{') && scan.Int(h1) && scan.Char(L':') && scan.Int(m1) && scan.Char(L':')
                && scan.Int(s1) && scan.Char(L'}') && scan.Char(L'{') && scan.Int(h2)
                && scan.Char(L':') && scan.Int(m2) && scan.Char(L':') && scan.Int(s2)
                && scan.Char(L'}')))
            return false;
        sts.AddEntry(ReplaceAll(scan.Rest(), L"|", L"\n"), unicode, Milliseconds(h1, m1, s1, 0),
            Milliseconds(h2, m2, s2, 0));
    }
    return !sts.entries.empty();
}

} // namespace subvoro
