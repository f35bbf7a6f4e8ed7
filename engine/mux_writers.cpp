#include "engine/demux.h"
#include "engine/engine_log.h"
#include "engine/mux.h"
#include "engine/segment_naming.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

// The MPEG-TS muxer shifts every timestamp by twice its buffering delay (and
// starts the clock one delay earlier); our part of the offset is what remains,
// so the files carry media time + 10 s.
constexpr int64_t kMuxerDelayUs = 700000;
constexpr int64_t kMuxerShift90k = 2 * kMuxerDelayUs * 9 / 100;

// The code of a failed write: a full disk is told apart, since it is no fault of the
// file and a later run may succeed.
EngineError WriteFailure(int result)
{
    return result == AVERROR(ENOSPC) ? kErrorDiskFull : kErrorWriteOutput;
}

// An output context with its streams copied from the encoders.
class OutputFile {
public:
    ~OutputFile() { Close(); }

    EngineError Open(const std::string& path, const char* format,
        const std::vector<OutputStream>& streams, JobControl& control, AVDictionary** options)
    {
        std::string url = LocalUrl(path);
        int result = avformat_alloc_output_context2(&m_context, nullptr, format, url.c_str());
        if (result < 0 || !m_context) {
            EngineLog(LogLevel::Error, "no container for '%s'", path.c_str());
            return kErrorWriteOutput;
        }
        m_context->interrupt_callback = { &JobControl::InterruptCallback, &control };
        m_context->max_delay = kMuxerDelayUs;
        for (const OutputStream& source : streams) {
            AVStream* stream = avformat_new_stream(m_context, nullptr);
            if (!stream || avcodec_parameters_from_context(stream->codecpar, source.encoder) < 0)
                return kErrorInternal;
            stream->time_base = source.encoder->time_base;
            stream->sample_aspect_ratio = source.encoder->sample_aspect_ratio;
        }
        AVDictionary* protocols = nullptr;
        av_dict_set(&protocols, "protocol_whitelist", "file", 0);
        result = avio_open2(&m_context->pb, url.c_str(), AVIO_FLAG_WRITE,
            &m_context->interrupt_callback, &protocols);
        av_dict_free(&protocols);
        if (result < 0) {
            EngineLog(LogLevel::Error, "cannot create '%s': %s", path.c_str(),
                AvErrorText(result).c_str());
            return WriteFailure(result);
        }
        result = avformat_write_header(m_context, options);
        if (result < 0) {
            EngineLog(LogLevel::Error, "cannot start '%s': %s", path.c_str(),
                AvErrorText(result).c_str());
            return WriteFailure(result);
        }
        m_headerWritten = true;
        return kErrorNone;
    }

    // pts/dts in the encoder's time base; offset90k is added after the rescale.
    EngineError Write(int stream, AVPacket& packet, AVRational from, int64_t offset90k = 0)
    {
        packet.stream_index = stream;
        AVRational to = m_context->streams[stream]->time_base;
        av_packet_rescale_ts(&packet, from, to);
        int64_t offset = av_rescale_q(offset90k, { 1, 90000 }, to);
        if (packet.pts != AV_NOPTS_VALUE)
            packet.pts += offset;
        if (packet.dts != AV_NOPTS_VALUE)
            packet.dts += offset;
        int result = av_write_frame(m_context, &packet);
        if (result < 0) {
            EngineLog(LogLevel::Error, "writing failed: %s", AvErrorText(result).c_str());
            return WriteFailure(result);
        }
        return kErrorNone;
    }

    EngineError Finish()
    {
        int result = m_headerWritten ? av_write_trailer(m_context) : 0;
        m_headerWritten = false;
        int closed = m_context && m_context->pb ? avio_closep(&m_context->pb) : 0;
        if (result < 0)
            return WriteFailure(result);
        return closed < 0 ? WriteFailure(closed) : kErrorNone;
    }

    void Close()
    {
        if (!m_context)
            return;
        if (m_context->pb)
            avio_closep(&m_context->pb);
        avformat_free_context(m_context);
        m_context = nullptr;
        m_headerWritten = false;
    }

    AVRational StreamTimeBase(int stream) const { return m_context->streams[stream]->time_base; }

private:
    AVFormatContext* m_context = nullptr;
    bool m_headerWritten = false;
};

class SegmentWriter final : public OutputWriter {
public:
    SegmentWriter(const std::string& pattern, int segmentSeconds, int64_t firstNumber,
        std::vector<OutputStream> streams, JobControl& control)
        : m_pattern(pattern)
        , m_segmentSeconds(segmentSeconds)
        , m_first(firstNumber)
        , m_streams(std::move(streams))
        , m_control(control)
    {
    }

    EngineError Write(int stream, AVPacket& packet) override
    {
        AVRational tb = m_streams[stream].encoder->time_base;
        int64_t number = SegmentOfTimestamp(packet.pts, tb.num, tb.den, m_segmentSeconds);
        number = std::max(number, std::max(m_first, m_current));
        if (number != m_current) {
            if (m_current > 0) {
                EngineError closed = CloseSegment();
                if (closed != kErrorNone)
                    return closed;
            }
            EngineError opened = OpenSegment(number);
            if (opened != kErrorNone)
                return opened;
        }
        // Media time plus the fixed offset; the muxer adds its shift part.
        return m_file.Write(stream, packet, tb, kTimelineOffset90k - kMuxerShift90k);
    }

    EngineError Finish() override { return m_current > 0 ? CloseSegment() : kErrorNone; }

    void Discard() override
    {
        if (m_current <= 0)
            return;
        m_file.Close();
        unlink(m_partPath.c_str());
        m_current = 0;
    }

private:
    EngineError OpenSegment(int64_t number)
    {
        m_current = number;
        m_finalPath = SegmentPath(m_pattern, number);
        m_partPath = m_finalPath + ".part";
        AVDictionary* options = nullptr;
        EngineError result = m_file.Open(m_partPath, "mpegts", m_streams, m_control, &options);
        av_dict_free(&options);
        return result;
    }

    EngineError CloseSegment()
    {
        EngineError result = m_file.Finish();
        m_file.Close();
        if (result == kErrorNone && rename(m_partPath.c_str(), m_finalPath.c_str()) != 0) {
            EngineLog(LogLevel::Error, "cannot rename '%s'", m_partPath.c_str());
            result = kErrorWriteOutput;
        }
        if (result != kErrorNone)
            unlink(m_partPath.c_str());
        EngineLog(LogLevel::Debug, "segment %lld complete", static_cast<long long>(m_current));
        m_current = 0;
        return result;
    }

    const std::string m_pattern;
    const int m_segmentSeconds;
    const int64_t m_first;
    const std::vector<OutputStream> m_streams;
    JobControl& m_control;
    OutputFile m_file;
    int64_t m_current = 0; // segment being written, 0 = none
    std::string m_partPath;
    std::string m_finalPath;
};

class FileWriter final : public OutputWriter {
public:
    FileWriter(const std::string& path, const std::string& container,
        std::vector<OutputStream> streams, JobControl& control)
        : m_path(path)
        , m_container(container)
        , m_streams(std::move(streams))
        , m_control(control)
    {
    }

    EngineError Write(int stream, AVPacket& packet) override
    {
        if (!m_open) {
            AVDictionary* options = nullptr;
            if (m_container == "mp4" || m_container == "mov" || m_container == "ipod")
                av_dict_set(&options, "movflags", "+faststart", 0);
            EngineError opened
                = m_file.Open(m_path, m_container.empty() ? nullptr : m_container.c_str(),
                    m_streams, m_control, &options);
            av_dict_free(&options);
            if (opened != kErrorNone)
                return opened;
            m_open = true;
        }
        // The file starts at the run's start.
        int64_t first = m_streams[stream].firstTimestamp;
        if (packet.pts != AV_NOPTS_VALUE)
            packet.pts -= first;
        if (packet.dts != AV_NOPTS_VALUE)
            packet.dts -= first;
        return m_file.Write(stream, packet, m_streams[stream].encoder->time_base);
    }

    EngineError Finish() override
    {
        if (!m_open) {
            EngineLog(LogLevel::Error, "nothing was encoded for '%s'", m_path.c_str());
            return kErrorNoFrames;
        }
        EngineError result = m_file.Finish();
        m_file.Close();
        return result;
    }

    void Discard() override { m_file.Close(); }

private:
    const std::string m_path;
    const std::string m_container;
    const std::vector<OutputStream> m_streams;
    JobControl& m_control;
    OutputFile m_file;
    bool m_open = false;
};

} // namespace

std::unique_ptr<OutputWriter> MakeSegmentWriter(const std::string& pattern, int segmentSeconds,
    int64_t firstNumber, std::vector<OutputStream> streams, JobControl& control)
{
    return std::make_unique<SegmentWriter>(
        pattern, segmentSeconds, firstNumber, std::move(streams), control);
}

std::unique_ptr<OutputWriter> MakeFileWriter(const std::string& path, const std::string& container,
    std::vector<OutputStream> streams, JobControl& control)
{
    return std::make_unique<FileWriter>(path, container, std::move(streams), control);
}

void RunMux(MuxInbox& inbox, OutputWriter& writer, const std::vector<OutputStream>& streams,
    JobControl& control)
{
    int stream = 0;
    PacketPtr packet;
    while (!control.Aborted() && inbox.Pop(stream, packet)) {
        AVRational tb = streams[stream].encoder->time_base;
        double end = (packet->pts + std::max<int64_t>(packet->duration, 0)) * av_q2d(tb);
        EngineError result = writer.Write(stream, *packet);
        if (result != kErrorNone) {
            control.Fail(result, "the output cannot be written");
            break;
        }
        if (end > control.position.load())
            control.position = end;
    }
    if (control.Aborted()) {
        writer.Discard();
        return;
    }
    EngineError result = writer.Finish();
    if (result != kErrorNone)
        control.Fail(result, "the output cannot be completed");
}
