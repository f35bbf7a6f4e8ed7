// SAMI: paragraphs of one language class, timed by the sync tags in front of them.
//
// A first pass over the head picks the class that declares the requested language; the second
// pass gathers the lines of wanted paragraphs into captions, and each sync tag closes the caption
// before it. Lines are matched upper-cased, but kept in their own case in the captions.
#include "readers.h"
#include "text_util.h"

#include <limits>

namespace subvoro {

namespace {

    enum class Selection { AllParagraphs, SelectedClass, NothingSelected };

    constexpr int32_t kOpenEnd = std::numeric_limits<int32_t>::max();

    std::wstring SecondCode(const std::wstring& code)
    {
        const std::wstring upper = ToUpperAscii(code);
        if (upper == L"KR")
            return L"KO";
        if (upper == L"EN")
            return L"US";
        if (upper == L"CN")
            return L"ZH";
        if (upper == L"JP")
            return L"JA";
        return std::wstring();
    }

    // The class name declared on a style line for the code, or an empty text.
    std::wstring ClassOnLine(
        const std::wstring& upper, const std::wstring& code, const std::wstring& second)
    {
        if (!Contains(upper, L"CC;") || !Contains(upper, L"LANG:"))
            return std::wstring();
        if (!Contains(upper, code) && !Contains(upper, second))
            return std::wstring();
        const size_t dot = upper.find(L'.');
        const size_t brace = upper.find(L'{');
        if (dot == std::wstring::npos || brace == std::wstring::npos || brace < dot)
            return std::wstring();
        return Trim(upper.substr(dot + 1, brace - dot - 1));
    }

    Selection SelectLanguage(CTextFile& file, const std::wstring& code, std::wstring& className)
    {
        const std::wstring second = SecondCode(code);
        bool metSync = false;
        std::wstring line;
        while (file.ReadString(line)) {
            const std::wstring upper = ToUpperAscii(line);
            if (className.empty() && !second.empty())
                className = ClassOnLine(upper, code, second);
            if (Contains(upper, L"<SYNC START=")) {
                metSync = true;
                break;
            }
            if (Contains(upper, L"</STYLE>"))
                break;
        }
        if (!className.empty())
            return Selection::SelectedClass;
        // A file without a style block cannot name its languages: take every paragraph.
        return metSync ? Selection::AllParagraphs : Selection::NothingSelected;
    }

    // The digits from index 12 of the line up to the first '>' or 'M'; others are skipped.
    int32_t SyncTime(const std::wstring& upper)
    {
        int64_t time = 0;
        for (size_t i = 12; i < upper.size() && upper[i] != L'>' && upper[i] != L'M'; ++i) {
            if (upper[i] >= L'0' && upper[i] <= L'9')
                time = std::min<int64_t>(time * 10 + (upper[i] - L'0'), kOpenEnd);
        }
        return int32_t(time);
    }

    std::wstring RemoveTags(const std::wstring& text)
    {
        std::wstring out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != L'<') {
                out.push_back(text[i]);
                continue;
            }
            const size_t close = text.find(L'>', i);
            if (close == std::wstring::npos)
                break;
            i = close;
        }
        return out;
    }

    std::wstring ConvertCaption(const std::wstring& caption)
    {
        std::wstring text = ReplaceNoCase(caption, L"&nbsp;", L" ");
        text = ReplaceNoCase(text, L"&quot;", L"\"");
        text = ReplaceNoCase(text, L"<br>", L"\\N");
        for (const wchar_t* tag : { L"<i>", L"</i>", L"<b>", L"</b>" })
            text = ReplaceNoCase(text, tag, L"");
        return RemoveTags(text);
    }

} // namespace

bool ReadSami(CTextFile& file, CSimpleTextSubtitle& sts, const ReadContext&)
{
    const int64_t start = file.GetPosition();
    Selection selection = Selection::AllParagraphs;
    std::wstring className;
    if (!sts.samiLanguage.empty()) {
        selection = SelectLanguage(file, sts.samiLanguage, className);
        file.Seek(start, CTextFile::SeekFrom::Begin);
    }

    const bool unicode = IsUnicodeEncoding(file.GetEncoding());
    bool comment = false;
    bool lastWanted = false;
    int32_t previousTime = 0;
    std::wstring caption;
    std::wstring raw;
    while (file.ReadString(raw)) {
        const std::wstring line = Trim(raw);
        if (line.empty())
            continue;
        const std::wstring upper = ToUpperAscii(line);
        if (Contains(upper, L"<!--") || Contains(upper, L"<TITLE>"))
            comment = true;
        bool gather = false;
        if (Contains(upper, L"<P CLASS=") || Contains(upper, L"<P>")) {
            comment = false;
            lastWanted = selection == Selection::AllParagraphs
                || (selection == Selection::SelectedClass && Contains(upper, className));
            gather = lastWanted;
        } else {
            gather = !comment && lastWanted;
        }
        if (gather) {
            if (Contains(upper, L"<SYNC START=")) {
                const int32_t time = SyncTime(upper);
                sts.AddEntry(ConvertCaption(caption), unicode, previousTime, time);
                previousTime = time;
                caption.clear();
            }
            caption += line;
        }
        if (Contains(upper, L"-->") || Contains(upper, L"</TITLE>"))
            comment = false;
    }
    sts.AddEntry(ConvertCaption(caption), unicode, previousTime, kOpenEnd);
    return true;
}

} // namespace subvoro
