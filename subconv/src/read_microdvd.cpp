// MicroDVD: "{start}{end}text" in frames, with '|' between lines and brace codes for colour,
// font, size and position; "{start}{}" lasts until the next entry. A line "{NAME}..." of codes
// alone defines a style.
#include "readers.h"
#include "text_util.h"

namespace subvoro {

namespace {

    // How long an open-ended last line stays up, in frames (four seconds at 25 frames a second).
    constexpr int32_t kOpenEndFrames = 100;
    // A longer brace group is text, not a code.
    constexpr size_t kMaxCodeLength = 256;

    bool ParseDollarColour(const std::wstring& value, uint32_t& colour)
    {
        return value.size() > 1 && value[0] == L'$' && ParseColour(L"&H" + value.substr(1), colour);
    }

    wchar_t LowerKey(const std::wstring& code)
    {
        return code.size() >= 2 && code[1] == L':' ? ToLowerAscii(code.substr(0, 1))[0] : L'\0';
    }

    // One brace code of a text as its override; false keeps the code as it stands.
    bool ConvertCode(const std::wstring& code, std::wstring& out)
    {
        const std::wstring value = code.size() > 2 ? code.substr(2) : std::wstring();
        uint32_t colour = 0;
        int32_t number = 0;
        double size = 0.0;
        switch (LowerKey(code)) {
        case L'c':
            if (!ParseDollarColour(value, colour))
                return false;
            out = Format("{\\c&H%x&}", colour);
            return true;
        case L'f':
            out = L"{\\fn" + value + L"}";
            return true;
        case L's':
            if (!ParseDouble(value, size))
                return false;
            out = L"{\\fs" + FormatFixed(size, 6) + L"}";
            return true;
        case L'h':
            if (!ParseInt(value, number))
                return false;
            out = Format("{\\fe%d}", number);
            return true;
        case L'p': // a position code without an override of its own: dropped
            out.clear();
            return ParseInt(value, number);
        case L'o': {
            CLineScanner scan(value);
            int32_t x = 0, y = 0;
            wchar_t sep = 0;
            if (!(scan.Int(x) && scan.AnyChar(sep) && scan.Int(y)))
                return false;
            out = Format("{\\move(%d,%d,0,0,0,0)}", x, y);
            return true;
        }
        case L'y': {
            std::wstring codes;
            const std::wstring flags = ToLowerAscii(value);
            for (const auto& [flag, tag] : { std::pair { L'i', L"\\i1" }, { L'b', L"\\b1" },
                     { L'u', L"\\u1" }, { L's', L"\\s1" } }) {
                if (flags.find(flag) != std::wstring::npos)
                    codes += tag;
            }
            out = codes.empty() ? codes : L"{" + codes + L"}";
            return true;
        }
        default:
            return false;
        }
    }

    std::wstring ConvertText(const std::wstring& text)
    {
        std::wstring out;
        size_t close = 0; // the next '}', remembered so that a run of '{' stays linear
        for (size_t i = 0; i < text.size();) {
            if (text[i] == L'{') {
                if (close != std::wstring::npos && close <= i)
                    close = text.find(L'}', i);
                std::wstring converted;
                if (close != std::wstring::npos && close - i <= kMaxCodeLength
                    && ConvertCode(text.substr(i + 1, close - i - 1), converted)) {
                    out += converted;
                    i = close + 1;
                    continue;
                }
            }
            out += text[i] == L'|' ? L'\n' : text[i];
            ++i;
        }
        return out;
    }

    bool ApplyStyleCode(const std::wstring& code, STSStyle& style)
    {
        const std::wstring value = code.size() > 2 ? code.substr(2) : std::wstring();
        switch (LowerKey(code)) {
        case L'c':
            return ParseDollarColour(value, style.colors[0]);
        case L'f':
            style.fontName = value;
            return !value.empty();
        case L's':
            return ParseDouble(value, style.fontSize);
        case L'h':
            return ParseInt(value, style.charSet);
        case L'y': {
            const std::wstring flags = ToLowerAscii(value);
            style.fontWeight = flags.find(L'b') != std::wstring::npos ? 700 : 400;
            style.italic = flags.find(L'i') != std::wstring::npos;
            style.underline = flags.find(L'u') != std::wstring::npos;
            style.strikeOut = flags.find(L's') != std::wstring::npos;
            return true;
        }
        case L'p':
        case L'o':
            return true; // positions belong to lines, not styles
        default:
            return false;
        }
    }

    // "{NAME}" followed by brace codes only (an empty "{}" pair is allowed).
    bool ParseStyleLine(const std::wstring& line, CSimpleTextSubtitle& sts)
    {
        const size_t close = line.find(L'}');
        if (line.empty() || line[0] != L'{' || close == std::wstring::npos || close == 1)
            return false;
        std::wstring name = line.substr(1, close - 1);
        for (wchar_t c : name) {
            const bool letter = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
            if (!letter && c != L'_')
                return false;
        }
        STSStyle style;
        int applied = 0;
        for (size_t pos = close + 1; pos < line.size();) {
            if (IsSpace(line[pos])) {
                ++pos;
                continue;
            }
            const size_t end = line.find(L'}', pos);
            if (line[pos] != L'{' || end == std::wstring::npos)
                return false;
            const std::wstring code = line.substr(pos + 1, end - pos - 1);
            if (!code.empty()) {
                if (!ApplyStyleCode(code, style))
                    return false;
                ++applied;
            }
            pos = end + 1;
        }
        if (applied == 0)
            return false;
        name = ToLowerAscii(name);
        name[0] = ToUpperAscii(name.substr(0, 1))[0];
        sts.InsertStyle(name, style);
        return true;
    }

} // namespace

bool ReadMicroDvd(CTextFile& file, CSimpleTextSubtitle& sts, const ReadContext&)
{
    const bool unicode = IsUnicodeEncoding(file.GetEncoding());
    bool pending = false; // an entry waiting for the next start as its end
    std::wstring pendingText;
    int32_t pendingStart = 0;
    std::wstring raw;
    while (file.ReadString(raw)) {
        const std::wstring line = Trim(raw);
        if (line.empty())
            continue;
        CLineScanner scan(line);
        int32_t start = 0, end = 0;
        bool open = false;
        bool timed = scan.Char(L'{') && scan.Int(start) && scan.Char(L'}') && scan.Char(L'{');
        if (timed) {
            open = scan.Char(L'}');
            timed = open || (scan.Int(end) && scan.Char(L'}'));
        }
        if (!timed) {
            if (ParseStyleLine(line, sts))
                continue;
            return false;
        }
        if (pending) {
            sts.AddEntry(pendingText, unicode, pendingStart, start);
            pending = false;
        }
        std::wstring text = ConvertText(scan.Rest());
        if (open) {
            pending = true;
            pendingText = std::move(text);
            pendingStart = start;
        } else {
            sts.AddEntry(std::move(text), unicode, start, end);
        }
    }
    if (pending)
        sts.AddEntry(pendingText, unicode, pendingStart,
            SaturateInt(int64_t(pendingStart) + kOpenEndFrames));
    return !sts.entries.empty();
}

} // namespace subvoro
