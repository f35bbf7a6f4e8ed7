#include "readers.h"

namespace subvoro {

namespace {

    struct ReaderSlot {
        bool (*read)(CTextFile&, CSimpleTextSubtitle&, const ReadContext&);
        TimeMode mode;
    };

    // VPlayer, XSS, MPL2 and RealText would stand behind the SAMI reader, which never declines,
    // so they are not built; SubStation Alpha keeps its place for completeness.
    constexpr ReaderSlot kReaders[] = {
        { ReadSubRip, TimeMode::Milliseconds },
        { ReadOldSubRip, TimeMode::Milliseconds },
        { ReadSubViewer, TimeMode::Milliseconds },
        { ReadMicroDvd, TimeMode::Frames },
        { ReadSami, TimeMode::Milliseconds },
        { ReadSubStationAlpha, TimeMode::Milliseconds },
    };

    // The 1-based number of the line at which the reading stopped.
    int LineAt(CTextFile& file, int64_t start, int64_t stop)
    {
        file.Seek(start, CTextFile::SeekFrom::Begin);
        int counted = 0;
        std::wstring line;
        while (file.ReadString(line) && file.GetPosition() < stop)
            ++counted;
        return counted + 1;
    }

    void Accept(CTextFile& file, CSimpleTextSubtitle& sts, TimeMode mode, const ReadContext& ctx,
        const OpenNotices& notices)
    {
        sts.name.clear();
        sts.mode = mode;
        sts.encoding = file.GetEncoding();
        sts.path = file.GetFilePath();
        if (!sts.path.empty()) {
            CWebTextFile companion;
            if (companion.Open(sts.path + ".style"))
                ReadSubStationAlpha(companion, sts, ctx);
        }
        sts.EnsureDefaultStyle();
        sts.RemapUnknownStyles(notices.unknownStyle);
        if (sts.screenWidth == 0 && sts.screenHeight == 0) {
            sts.screenWidth = 384;
            sts.screenHeight = 288;
        }
    }

} // namespace

bool ReadSubtitleFile(CTextFile& file, CSimpleTextSubtitle& sts, const OpenNotices& notices)
{
    sts.Empty();
    const int64_t start = file.GetPosition();
    ReadContext ctx;
    ctx.charSet = 1;
    ctx.fontSink = notices.fontSink;
    for (const ReaderSlot& reader : kReaders) {
        if (reader.read(file, sts, ctx)) {
            Accept(file, sts, reader.mode, ctx, notices);
            return true;
        }
        if (!sts.entries.empty()) {
            const int line = LineAt(file, start, file.GetPosition());
            if (notices.syntaxError)
                notices.syntaxError(line);
            sts.Empty();
            return false;
        }
        file.Seek(start, CTextFile::SeekFrom::Begin);
        sts.Empty();
    }
    return false;
}

} // namespace subvoro
