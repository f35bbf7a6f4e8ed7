#include "engine/track_list.h"

#include "engine/demux.h"
#include "engine/engine_log.h"
#include "engine/text_subtitles.h"
#include "engine/whole_file.h"

#include <cstdio>

namespace {

std::string PercentEncoded(const std::string& text)
{
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-'
            || c == '.' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string Tag(const AVStream& stream, const char* key)
{
    const AVDictionaryEntry* entry = av_dict_get(stream.metadata, key, nullptr, 0);
    return entry && entry->value ? entry->value : "";
}

TrackListing::Track Describe(const AVStream& stream, int number)
{
    const AVCodecParameters& params = *stream.codecpar;
    TrackListing::Track track;
    track.number = number;
    track.codec = avcodec_get_name(params.codec_id);
    track.language = Tag(stream, "language");
    track.title = Tag(stream, "title");
    track.isDefault = (stream.disposition & AV_DISPOSITION_DEFAULT) != 0;
    track.forced = (stream.disposition & AV_DISPOSITION_FORCED) != 0;
    if (params.codec_type == AVMEDIA_TYPE_AUDIO) {
        track.channels = params.ch_layout.nb_channels;
        track.sampleRate = params.sample_rate;
    } else {
        track.text = IsTextSubtitleCodec(params.codec_id);
    }
    return track;
}

std::string Extras(const TrackListing::Track& track)
{
    std::string extras;
    if (!track.language.empty())
        extras += " lang=" + PercentEncoded(track.language);
    if (!track.title.empty())
        extras += " title=" + PercentEncoded(track.title);
    if (track.isDefault)
        extras += " default";
    if (track.forced)
        extras += " forced";
    return extras;
}

} // namespace

EngineError ListTracks(const std::string& path, TrackListing& listing)
{
    JobControl control;
    InputContextPtr format;
    const EngineError opened = OpenLocalFormat(path, control, format);
    if (opened != kErrorNone)
        return opened;
    listing.durationSeconds
        = format->duration != AV_NOPTS_VALUE && format->duration > 0 ? format->duration / 1e6 : 0;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream& stream = *format->streams[i];
        switch (stream.codecpar->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            listing.audio.push_back(Describe(stream, int(listing.audio.size())));
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            listing.subtitles.push_back(Describe(stream, int(listing.subtitles.size())));
            break;
        default:
            break;
        }
    }
    return kErrorNone;
}

std::string FormatTrackListing(const TrackListing& listing)
{
    std::string text = "vembacast-tracks 1\n";
    char line[256];
    std::snprintf(line, sizeof line, "duration %.6f\n", listing.durationSeconds);
    text += line;
    for (const TrackListing::Track& track : listing.audio) {
        std::snprintf(line, sizeof line, "audio %d %s %d %d", track.number,
            OutputWord(track.codec).c_str(), track.channels, track.sampleRate);
        text += line + Extras(track) + "\n";
    }
    for (const TrackListing::Track& track : listing.subtitles) {
        std::snprintf(line, sizeof line, "subtitle %d %s %s", track.number,
            OutputWord(track.codec).c_str(), track.text ? "text" : "picture");
        text += line + Extras(track) + "\n";
    }
    return text;
}

int RunTrackList(const std::string& input, const std::string& output)
{
    if (output.empty()) {
        std::fprintf(stderr, "vembacast-engine: -tracks needs -o OUT\n");
        return kErrorBadCommandLine;
    }
    TrackListing listing;
    const EngineError result = ListTracks(input, listing);
    if (result != kErrorNone) {
        std::fprintf(stderr, "vembacast-engine: no track list for '%s' (code %u)\n", input.c_str(),
            static_cast<unsigned>(result));
        return static_cast<int>(result);
    }
    if (!WriteWholeFile(output, FormatTrackListing(listing))) {
        std::fprintf(stderr, "vembacast-engine: cannot write '%s'\n", output.c_str());
        return kErrorWriteOutput;
    }
    return 0;
}
