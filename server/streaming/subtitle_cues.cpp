#include "streaming/subtitle_cues.h"

#include "library/text_codec.h"
#include "platform/file_io.h"
#include "subvoro/subvoro.h"

#include <cmath>
#include <iconv.h>

namespace {

// The rate the library counts frames by when it is given none.
constexpr double kLibraryFrameRate = 25.0;

// True when the file counts frames ("{10}{50}text" lines, MicroDVD).
bool IsFrameCounted(const std::string& path)
{
    std::optional<std::string> head = ReadFileUpTo(path, 4096);
    if (!head)
        return false;
    size_t at = head->compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < head->size() && std::isspace(static_cast<unsigned char>((*head)[at])))
        ++at;
    return at + 1 < head->size() && (*head)[at] == '{'
        && std::isdigit(static_cast<unsigned char>((*head)[at + 1]));
}

int32_t Rescaled(int32_t ms, double scale)
{
    const double value = std::round(double(ms) * scale);
    return value > 2147483647.0 ? 2147483647 : static_cast<int32_t>(value);
}

} // namespace

std::string SubtitleTextToUtf8(const std::string& text)
{
    if (textcodec::IsValidUtf8(text))
        return text;
    iconv_t cd = iconv_open("UTF-8", "CP949");
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        std::string out(text.size() * 3 + 4, '\0');
        char* in = const_cast<char*>(text.data());
        size_t inLeft = text.size();
        char* to = out.data();
        size_t outLeft = out.size();
        const size_t done = iconv(cd, &in, &inLeft, &to, &outLeft);
        iconv_close(cd);
        if (done != static_cast<size_t>(-1) && inLeft == 0) {
            out.resize(out.size() - outLeft);
            return out;
        }
    }
    return textcodec::WideToUtf8(textcodec::Utf8ToWide(text));
}

std::optional<std::vector<SubtitleCue>> ReadSubtitleCues(
    const std::string& path, const std::string& samiLanguage, double framesPerSecond)
{
    CSubvoroter converter;
    converter.SetSamiLang(samiLanguage);
    if (converter.SubFileOpen(path) != QZSUB_OK)
        return std::nullopt;
    SubtitleList_t list;
    if (!converter.SubFileSaveAs(&list, EXTSRT))
        return std::nullopt;
    const double scale
        = framesPerSecond > 0 && IsFrameCounted(path) ? kLibraryFrameRate / framesPerSecond : 1.0;
    std::vector<SubtitleCue> cues;
    for (int i = 0; i + 1 < list.nCount; i += 2) {
        if (!list.pItems[i].pszText)
            continue; // an entry the library could not time
        SubtitleCue cue;
        cue.startMs = Rescaled(list.pItems[i].nTime, scale);
        cue.endMs = Rescaled(list.pItems[i + 1].nTime, scale);
        for (char c : SubtitleTextToUtf8(list.pItems[i].pszText)) {
            if (c != '\r')
                cue.text += c;
        }
        cues.push_back(std::move(cue));
    }
    return cues;
}
