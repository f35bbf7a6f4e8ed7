// Fuzz target for the readers and writers: the input is one subtitle file, led by a control
// byte that picks the SAMI language, the output encoding and the frame rate.
#include "readers.h"
#include "subtitle_writer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace subvoro;

namespace {

const wchar_t* const kLanguages[] = { L"", L"KR", L"EN", L"CN", L"JP", L"xx" };

void CheckModel(const CSimpleTextSubtitle& sts)
{
    for (const STSEntry& e : sts.entries) {
        if (e.end < e.start || e.style.empty() || e.text.find(L'\r') != std::wstring::npos)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1u << 20))
        return 0;
    const uint8_t control = data[0];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    CSimpleTextSubtitle sts;
    sts.samiLanguage = kLanguages[control % 6];
    OpenNotices notices;
    notices.syntaxError = [](int line) {
        if (line < 1)
            std::abort();
    };
    notices.unknownStyle = [](const std::wstring& style, bool) { return !style.empty(); };
    notices.fontSink = [](const std::wstring&, const std::string&) {};

    CTextFile file;
    file.OpenMemory(bytes);
    ReadSubtitleFile(file, sts, notices);
    CheckModel(sts);

    // The same bytes as a ".style" companion, which only a file name can reach otherwise.
    CTextFile companion;
    companion.OpenMemory(bytes);
    ReadContext ctx;
    ctx.fontSink = notices.fontSink;
    ReadSubStationAlpha(companion, sts, ctx);
    sts.EnsureDefaultStyle();
    sts.RemapUnknownStyles(notices.unknownStyle);
    CheckModel(sts);

    const auto encoding = static_cast<TextEncoding>((control >> 3) % 5);
    const double frameRate = (control & 0x40) ? -1.0 : 23.976;
    for (int type = 0; type < EXTTYPE_COUNT; ++type) {
        CTextFile out;
        out.SaveToMemory(encoding);
        WriteSubtitle(sts, out, exttype(type), frameRate);
        WriteStyleCompanion(sts, out);
    }
    SubtitleList_t list;
    FillTimedList(sts, &list, (control & 0x80) ? EXTASS : EXTSRT, frameRate);
    return 0;
}
