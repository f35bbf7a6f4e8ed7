#include "library/media_read_query.h"

#include "library/text_codec.h"

namespace mediainfo {

namespace {

    struct Query {
        StreamKind kind;
        const wchar_t* parameter;
    };
    constexpr Query kQueries[] = {
        { kStreamGeneral, L"FileSize" },
        { kStreamGeneral, L"Duration" },
        { kStreamGeneral, L"CodecID" },
        { kStreamVideo, L"CodecID" },
        { kStreamVideo, L"FrameRate" },
        { kStreamVideo, L"Width" },
        { kStreamVideo, L"Height" },
        { kStreamVideo, L"Format" },
        { kStreamAudio, L"ID" },
        { kStreamAudio, L"Format" },
        { kStreamVideo, L"Format_Profile" },
        { kStreamVideo, L"Format_Level" },
        { kStreamVideo, L"Rotation" },
    };
    static_assert(std::size(kQueries) == kMediaReadValueCount);

} // namespace

bool ServeMediaRead(const Api& api, const std::string& path, std::vector<std::string>& values)
{
    Handle handle(api);
    if (!handle.Open(textcodec::Utf8ToWide(path)))
        return false;
    for (const Query& query : kQueries)
        values.push_back(textcodec::WideToUtf8(handle.Get(query.kind, query.parameter)));
    return true;
}

} // namespace mediainfo
