#include "engine/seek_previews.h"

#include "engine/demux.h"
#include "engine/engine_log.h"
#include "engine/picture_ops.h"
#include "engine/whole_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// A key frame this much before its mark still serves it: cut points of a fixed
// group length fall a frame early as often as late.
constexpr double kMarkTolerance = 1.0;
// Marks after the last key frame are filled up to the container's length, but a
// length that claims far more than the file shows is not believed.
constexpr double kMaxTrailingSeconds = 600;
constexpr int kJpegQuality = 5; // the encoder's quantizer scale: small sheets, clear enough

void LowerPriority()
{
    if (setpriority(PRIO_PROCESS, 0, 19) != 0)
        EngineLog(LogLevel::Info, "previews: cannot lower the priority");
    sched_param param {};
    if (sched_setscheduler(0, SCHED_IDLE, &param) != 0)
        EngineLog(LogLevel::Info, "previews: no idle scheduling");
    // The idle I/O class (3 << 13) for this process (1): reads wait for idle disks.
    if (syscall(SYS_ioprio_set, 1, 0, 3 << 13) != 0)
        EngineLog(LogLevel::Info, "previews: no idle disk class");
}

void RemoveFolder(const std::string& folder)
{
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                unlink((folder + "/" + entry->d_name).c_str());
        }
        closedir(dir);
    }
    rmdir(folder.c_str());
}

// Decodes single key frames, each on its own: the decoder is drained and reset
// after each, so no frame waits for pictures that are never sent.
class KeyFrameDecoder {
public:
    EngineError Open(const AVStream& stream)
    {
        const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
        m_context.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!m_context || avcodec_parameters_to_context(m_context.get(), stream.codecpar) < 0)
            return kErrorDecoder;
        m_context->pkt_timebase = stream.time_base;
        m_context->thread_count = 1; // idle priority: one core is all it may take
        m_context->skip_frame = AVDISCARD_NONKEY;
        return avcodec_open2(m_context.get(), codec, nullptr) < 0 ? kErrorDecoder : kErrorNone;
    }

    FramePtr Decode(const AVPacket& packet)
    {
        FramePtr picture;
        if (avcodec_send_packet(m_context.get(), &packet) >= 0) {
            avcodec_send_packet(m_context.get(), nullptr);
            for (FramePtr frame = MakeFrame();
                 frame && avcodec_receive_frame(m_context.get(), frame.get()) >= 0;
                 frame = MakeFrame()) {
                if (!picture)
                    picture = std::move(frame);
            }
        }
        avcodec_flush_buffers(m_context.get());
        return picture;
    }

private:
    CodecContextPtr m_context;
};

// Scales decoded pictures into upright tiles: 4:2:0 in full range, as JPEG wants.
class TileMaker {
public:
    TileMaker(int tileWidth, int tileHeight, int turnDegrees)
        : m_width(tileWidth)
        , m_height(tileHeight)
        , m_mode(turnDegrees == 90     ? 1
                  : turnDegrees == 270 ? 2
                  : turnDegrees == 180 ? kHalfTurn
                                       : -1)
    {
    }

    FramePtr Make(const AVFrame& picture)
    {
        const bool sideways = m_mode == 1 || m_mode == 2;
        FramePtr scaled = MakePictureFrame(
            AV_PIX_FMT_YUV420P, sideways ? m_height : m_width, sideways ? m_width : m_height);
        if (!scaled)
            return nullptr;
        m_scaler.reset(sws_getCachedContext(m_scaler.release(), picture.width, picture.height,
            AVPixelFormat(picture.format), scaled->width, scaled->height, AV_PIX_FMT_YUV420P,
            SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!m_scaler)
            return nullptr;
        int* inverse = nullptr;
        int* table = nullptr;
        int srcRange = 0;
        int dstRange = 0;
        int brightness = 0;
        int contrast = 0;
        int saturation = 0;
        if (sws_getColorspaceDetails(m_scaler.get(), &inverse, &srcRange, &table, &dstRange,
                &brightness, &contrast, &saturation)
            >= 0) {
            srcRange = picture.color_range == AVCOL_RANGE_JPEG ? 1 : srcRange;
            sws_setColorspaceDetails(
                m_scaler.get(), inverse, srcRange, table, 1, brightness, contrast, saturation);
        }
        sws_scale(m_scaler.get(), picture.data, picture.linesize, 0, picture.height, scaled->data,
            scaled->linesize);
        if (m_mode < 0)
            return scaled;
        FramePtr upright = MakePictureFrame(AV_PIX_FMT_YUV420P, m_width, m_height);
        if (upright)
            RotateFrame(*scaled, *upright, m_mode);
        return upright;
    }

private:
    const int m_width;
    const int m_height;
    const int m_mode; // RotateFrame's mode, -1: upright already
    SwsPtr m_scaler;
};

// Lays tiles into sheets and writes each sheet as a JPEG file once it is whole.
class SheetWriter {
public:
    SheetWriter(const PreviewGrid& grid, std::string folder)
        : m_grid(grid)
        , m_folder(std::move(folder))
    {
    }

    EngineError Add(const AVFrame& tile)
    {
        if (!m_sheet) {
            m_sheet = MakePictureFrame(AV_PIX_FMT_YUV420P, m_grid.columns * m_grid.tileWidth,
                m_grid.rows * m_grid.tileHeight);
            if (!m_sheet)
                return kErrorInternal;
            Fill(*m_sheet);
        }
        const PreviewPlace place = PlaceOfPreview(m_grid, m_pictures);
        CopyTile(tile, place);
        ++m_pictures;
        if (m_pictures % m_grid.PerSheet() == 0)
            return WriteSheet(place.sheet);
        return kErrorNone;
    }

    // Writes the last sheet when it is not whole.
    EngineError Finish()
    {
        if (!m_sheet || m_pictures % m_grid.PerSheet() == 0)
            return kErrorNone;
        return WriteSheet(m_pictures / m_grid.PerSheet());
    }

    int Pictures() const { return m_pictures; }

private:
    static void Fill(AVFrame& frame)
    {
        for (int y = 0; y < frame.height; ++y)
            memset(frame.data[0] + y * frame.linesize[0], 0, frame.width);
        for (int plane = 1; plane < 3; ++plane) {
            for (int y = 0; y < frame.height / 2; ++y)
                memset(frame.data[plane] + y * frame.linesize[plane], 128, frame.width / 2);
        }
    }

    void CopyTile(const AVFrame& tile, const PreviewPlace& place)
    {
        for (int y = 0; y < tile.height; ++y)
            memcpy(m_sheet->data[0] + (place.y + y) * m_sheet->linesize[0] + place.x,
                tile.data[0] + y * tile.linesize[0], tile.width);
        for (int plane = 1; plane < 3; ++plane) {
            for (int y = 0; y < tile.height / 2; ++y)
                memcpy(m_sheet->data[plane] + (place.y / 2 + y) * m_sheet->linesize[plane]
                        + place.x / 2,
                    tile.data[plane] + y * tile.linesize[plane], tile.width / 2);
        }
    }

    EngineError WriteSheet(int sheet)
    {
        const PreviewSheetSize size = SizeOfPreviewSheet(m_grid, m_pictures, sheet);
        FramePtr cut = RefFrame(m_sheet.get()); // the top left of the sheet: no copy
        if (!cut)
            return kErrorInternal;
        cut->width = size.width;
        cut->height = size.height;
        std::string jpeg;
        EngineError encoded = Encode(*cut, jpeg);
        if (encoded != kErrorNone)
            return encoded;
        Fill(*m_sheet);
        return WriteWholeFile(m_folder + "/" + std::to_string(sheet) + ".jpg", jpeg)
            ? kErrorNone
            : kErrorWriteOutput;
    }

    static EngineError Encode(AVFrame& picture, std::string& jpeg)
    {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
        CodecContextPtr encoder(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!encoder)
            return kErrorEncoder;
        encoder->width = picture.width;
        encoder->height = picture.height;
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->color_range = AVCOL_RANGE_JPEG;
        encoder->time_base = { 1, 25 };
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * kJpegQuality;
        if (avcodec_open2(encoder.get(), codec, nullptr) < 0)
            return kErrorEncoder;
        picture.quality = encoder->global_quality;
        picture.color_range = AVCOL_RANGE_JPEG;
        PacketPtr packet = MakePacket();
        if (!packet || avcodec_send_frame(encoder.get(), &picture) < 0
            || avcodec_receive_packet(encoder.get(), packet.get()) < 0)
            return kErrorEncoder;
        jpeg.assign(reinterpret_cast<const char*>(packet->data), size_t(packet->size));
        return kErrorNone;
    }

    const PreviewGrid m_grid;
    const std::string m_folder;
    FramePtr m_sheet; // the sheet being filled
    int m_pictures = 0;
};

double PacketSeconds(const InputMedia& input, const AVPacket& packet, const AVStream& stream)
{
    const int64_t ts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    return ts == AV_NOPTS_VALUE ? -1 : input.MediaSeconds(ts, stream.time_base);
}

struct PassResult {
    EngineError error = kErrorNone;
    PreviewSummary summary;
};

// The pass itself, writing the sheets into folder.
PassResult MakePreviews(InputMedia& input, JobControl& control, const std::string& folder)
{
    PassResult result;
    AVStream& stream = *input.VideoStream();
    const AVCodecParameters& params = *stream.codecpar;
    if (params.width <= 0 || params.height <= 0)
        return { kErrorDecoder, {} };
    const AVRational shape = params.sample_aspect_ratio;
    const double aspect = shape.num > 0 && shape.den > 0 ? av_q2d(shape) : 1.0;
    const int turn = UprightTurn(stream);
    const int shownWidth = int(std::lround(params.width * std::clamp(aspect, 0.1, 10.0)));
    const bool sideways = turn == 90 || turn == 270;
    PreviewSummary& summary = result.summary;
    summary.grid.tileHeight = sideways ? PreviewTileHeight(params.height, shownWidth)
                                       : PreviewTileHeight(shownWidth, params.height);
    summary.durationSeconds = input.DurationMs() / 1000.0;
    for (unsigned i = 0; i < input.Format()->nb_streams; ++i)
        input.Format()->streams[i]->discard = AVDISCARD_ALL;
    stream.discard = AVDISCARD_NONKEY; // demuxers that can skip the rest do not read it

    KeyFrameDecoder decoder;
    if ((result.error = decoder.Open(stream)) != kErrorNone)
        return result;
    TileMaker tiles(summary.grid.tileWidth, summary.grid.tileHeight, turn);
    SheetWriter sheets(summary.grid, folder);
    FramePtr lastTile;
    double lastKey = 0;
    int nextMark = 0;
    PacketPtr packet = MakePacket();
    while (packet && !control.Aborted() && nextMark < kMaxPreviewPictures
        && av_read_frame(input.Format(), packet.get()) >= 0) {
        const bool key = packet->stream_index == stream.index && (packet->flags & AV_PKT_FLAG_KEY);
        const double seconds = key ? PacketSeconds(input, *packet, stream) : -1;
        const int served
            = key ? std::min(MarksServedBy(seconds, nextMark), kMaxPreviewPictures) : nextMark;
        if (served > nextMark) {
            FramePtr picture = decoder.Decode(*packet);
            FramePtr tile = picture ? tiles.Make(*picture) : nullptr;
            for (; tile && nextMark < served; ++nextMark) {
                if ((result.error = sheets.Add(*tile)) != kErrorNone)
                    return result;
            }
            if (tile) {
                lastTile = std::move(tile);
                lastKey = std::max(lastKey, seconds);
            }
        }
        av_packet_unref(packet.get());
    }
    if (control.Aborted())
        return { kErrorInternal, {} };
    if (!lastTile)
        return { kErrorNoFrames, {} };
    // The marks after the last key frame show it, up to the believable end.
    const double end
        = std::min(std::max(summary.durationSeconds, lastKey), lastKey + kMaxTrailingSeconds);
    for (; nextMark < kMaxPreviewPictures && nextMark * double(kPreviewIntervalSeconds) < end;
         ++nextMark) {
        if ((result.error = sheets.Add(*lastTile)) != kErrorNone)
            return result;
    }
    result.error = sheets.Finish();
    summary.pictures = sheets.Pictures();
    return result;
}

} // namespace

std::string FormatPreviewIndex(const PreviewSummary& summary)
{
    const PreviewGrid& grid = summary.grid;
    char text[512];
    std::snprintf(text, sizeof text,
        "vembacast-previews 1\ninterval %d\ntile %d %d\ngrid %d %d\npictures %d\nsheets "
        "%d\nduration %.6f\n",
        kPreviewIntervalSeconds, grid.tileWidth, grid.tileHeight, grid.columns, grid.rows,
        summary.pictures, PreviewSheetCount(grid, summary.pictures), summary.durationSeconds);
    return text;
}

int MarksServedBy(double keySeconds, int nextMark)
{
    if (keySeconds < 0)
        return nextMark;
    const int last = int(std::floor((keySeconds + kMarkTolerance) / kPreviewIntervalSeconds));
    return std::max(nextMark, last + 1);
}

int RunSeekPreviews(const std::string& input, const std::string& output)
{
    if (output.empty()) {
        fprintf(stderr, "vembacast-engine: -previews needs -o OUT\n");
        return kErrorBadCommandLine;
    }
    LowerPriority();
    long long started = EngineElapsedMs();
    JobControl control;
    InputMedia media;
    EngineError opened = media.Open(input, control);
    if (opened != kErrorNone) {
        fprintf(stderr, "vembacast-engine: no previews of '%s' (code %u)\n", input.c_str(),
            unsigned(opened));
        return int(opened);
    }
    struct stat info { };
    const std::string part = output + ".part";
    RemoveFolder(part); // a run that was killed
    if (stat(output.c_str(), &info) == 0 || mkdir(part.c_str(), 0755) != 0) {
        fprintf(stderr, "vembacast-engine: cannot make '%s'\n", output.c_str());
        return kErrorWriteOutput;
    }
    PassResult made = MakePreviews(media, control, part);
    if (made.error == kErrorNone
        && !WriteWholeFile(part + "/previews.txt", FormatPreviewIndex(made.summary)))
        made.error = kErrorWriteOutput;
    if (made.error == kErrorNone && rename(part.c_str(), output.c_str()) != 0)
        made.error = kErrorWriteOutput;
    if (made.error != kErrorNone) {
        RemoveFolder(part);
        fprintf(stderr, "vembacast-engine: no previews of '%s' (code %u)\n", input.c_str(),
            unsigned(made.error));
        return int(made.error);
    }
    EngineLog(LogLevel::Info, "%d previews of '%s' in %lld ms", made.summary.pictures,
        input.c_str(), EngineElapsedMs() - started);
    return 0;
}
