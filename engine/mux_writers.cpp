#include "engine/demux.h"
#include "engine/engine_log.h"
#include "engine/mux.h"
#include "engine/segment_naming.h"
#include "engine/segment_plan.h"
#include "engine/start_timing.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

extern "C" {
#include <libavutil/opt.h>
}

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

// Sound that arrives before the first picture of a live run waits for it (so the
// first segment opens with the picture), but only this many packets.
constexpr size_t kMaxHeldPackets = 256;

// An output context with its streams, writing into one file at a time.
class OutputFile {
public:
    ~OutputFile() { Close(); }

    // The context and its streams; no file yet.
    EngineError Create(const std::string& path, const char* format,
        const std::vector<OutputStream>& streams, JobControl& control)
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
            if (!stream || !source.params
                || avcodec_parameters_copy(stream->codecpar, source.params.get()) < 0)
                return kErrorInternal;
            stream->codecpar->codec_tag = 0;
            stream->time_base = source.timeBase;
            stream->sample_aspect_ratio = source.params->sample_aspect_ratio;
        }
        return kErrorNone;
    }

    // Opens `path` for the bytes that follow.
    EngineError OpenTarget(const std::string& path)
    {
        AVDictionary* protocols = nullptr;
        av_dict_set(&protocols, "protocol_whitelist", "file", 0);
        int result = avio_open2(&m_context->pb, LocalUrl(path).c_str(), AVIO_FLAG_WRITE,
            &m_context->interrupt_callback, &protocols);
        av_dict_free(&protocols);
        if (result < 0) {
            EngineLog(LogLevel::Error, "cannot create '%s': %s", path.c_str(),
                AvErrorText(result).c_str());
            return WriteFailure(result);
        }
        return kErrorNone;
    }

    // Closes the current file; the muxer's buffered packets must be flushed first.
    EngineError CloseTarget()
    {
        if (!m_context || !m_context->pb)
            return kErrorNone;
        int error = m_context->pb->error;
        int closed = avio_closep(&m_context->pb);
        if (error < 0)
            return WriteFailure(error);
        return closed < 0 ? WriteFailure(closed) : kErrorNone;
    }

    EngineError WriteHeader(const std::string& path, AVDictionary** options)
    {
        int result = avformat_write_header(m_context, options);
        if (result < 0) {
            EngineLog(LogLevel::Error, "cannot start '%s': %s", path.c_str(),
                AvErrorText(result).c_str());
            return WriteFailure(result);
        }
        m_headerWritten = true;
        return kErrorNone;
    }

    // pts/dts in time base `from`; offset90k is added after the rescale.
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

    // Writes what the muxer holds back (sound gathered into larger packets).
    EngineError Flush()
    {
        int result = av_write_frame(m_context, nullptr);
        return result < 0 ? kErrorWriteOutput : kErrorNone;
    }

    // The first packet of every stream says that its continuity counter starts
    // anew: a run that starts after a seek joins segments of another run, whose
    // counters it cannot know.
    void MarkInitialDiscontinuity()
    {
        if (m_context && m_context->priv_data)
            av_opt_set(m_context->priv_data, "mpegts_flags", "+initial_discontinuity", 0);
    }

    // The next packet starts with the program tables again.
    void RepeatTables()
    {
        if (m_context && m_context->priv_data)
            av_opt_set(m_context->priv_data, "mpegts_flags", "+resend_headers", 0);
    }

    EngineError Finish()
    {
        int result = m_headerWritten ? av_write_trailer(m_context) : 0;
        m_headerWritten = false;
        EngineError closed = CloseTarget();
        if (result < 0)
            return WriteFailure(result);
        return closed;
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

    bool Created() const { return m_context != nullptr; }

private:
    AVFormatContext* m_context = nullptr;
    bool m_headerWritten = false;
};

class SegmentWriter final : public OutputWriter {
public:
    SegmentWriter(const std::string& pattern, const SegmentPlan& plan, VideoCutRule rule,
        int64_t firstNumber, std::vector<OutputStream> streams, JobControl& control)
        : m_pattern(pattern)
        , m_plan(plan)
        , m_rule(rule)
        , m_first(firstNumber)
        , m_streams(std::move(streams))
        , m_control(control)
    {
        for (const OutputStream& stream : m_streams)
            m_hasVideo = m_hasVideo || stream.video;
    }

    EngineError Write(int stream, AVPacket& packet) override
    {
        if (!m_streams[stream].video) {
            if (m_current == 0 && m_hasVideo && m_held.size() < kMaxHeldPackets) {
                PacketPtr copy(av_packet_clone(&packet));
                if (!copy)
                    return kErrorInternal;
                m_held.emplace_back(stream, std::move(copy));
                return kErrorNone;
            }
            if (m_current == 0) {
                // No picture came for long: the sound goes on without it.
                EngineError opened = OpenSegment(m_first);
                if (opened == kErrorNone)
                    opened = WriteHeld();
                if (opened != kErrorNone)
                    return opened;
            }
            return WriteNow(stream, packet);
        }
        int64_t number = std::max(m_current, m_first);
        if ((packet.flags & AV_PKT_FLAG_KEY) && packet.pts != AV_NOPTS_VALUE)
            number = std::max(number, SegmentOfKeyPicture(stream, packet.pts));
        if (number != m_current) {
            EngineError switched = SwitchTo(number, stream, packet.pts);
            if (switched != kErrorNone)
                return switched;
        }
        EngineError result = WriteNow(stream, packet);
        return result == kErrorNone ? WriteHeld() : result;
    }

    EngineError Finish() override
    {
        if (m_current == 0 && !m_held.empty()) {
            EngineError opened = OpenSegment(m_first);
            if (opened == kErrorNone)
                opened = WriteHeld();
            if (opened != kErrorNone)
                return opened;
        }
        if (m_current == 0)
            return kErrorNone;
        EngineError result = m_file.Finish();
        return CompleteSegment(result);
    }

    void Discard() override
    {
        m_file.Close();
        if (m_current > 0)
            unlink(m_partPath.c_str());
        m_current = 0;
    }

private:
    int64_t SegmentOfKeyPicture(int stream, int64_t pts) const
    {
        if (m_rule.slotNum > 0)
            return m_plan.SegmentOfSlot(pts, m_rule.slotNum, m_rule.slotDen);
        double seconds = pts * av_q2d(m_streams[stream].timeBase);
        return m_plan.SegmentAt(seconds, m_rule.keyTolerance);
    }

    EngineError SwitchTo(int64_t number, int stream, int64_t pts)
    {
        if (m_current > 0) {
            if (m_rule.slotNum == 0 && m_plan.IsCutList())
                NoteLateCut(number, pts * av_q2d(m_streams[stream].timeBase));
            EngineError flushed = m_file.Flush();
            EngineError closed = m_file.CloseTarget();
            EngineError done = CompleteSegment(flushed != kErrorNone ? flushed : closed);
            if (done != kErrorNone)
                return done;
        }
        return OpenSegment(number);
    }

    // A cut the copied video has no key picture for moves to the next one.
    void NoteLateCut(int64_t number, double keySeconds)
    {
        double wanted = m_plan.StartOf(m_current + 1);
        if (keySeconds - wanted > m_rule.keyTolerance)
            EngineLog(LogLevel::Warning,
                "no key picture at the cut at %.6f s; segment %lld starts at the next one, "
                "%.6f s",
                wanted, static_cast<long long>(m_current + 1), keySeconds);
        if (number > m_current + 1)
            EngineLog(LogLevel::Warning, "segments %lld to %lld have no key picture of their own",
                static_cast<long long>(m_current + 1), static_cast<long long>(number - 1));
    }

    EngineError OpenSegment(int64_t number)
    {
        m_current = number;
        m_finalPath = SegmentPath(m_pattern, number);
        m_partPath = m_finalPath + ".part";
        if (!m_file.Created()) {
            EngineError result = m_file.Create(m_partPath, "mpegts", m_streams, m_control);
            if (result == kErrorNone && number > 1)
                m_file.MarkInitialDiscontinuity();
            if (result == kErrorNone)
                result = m_file.OpenTarget(m_partPath);
            if (result == kErrorNone)
                result = m_file.WriteHeader(m_partPath, nullptr);
            if (result != kErrorNone)
                return result;
        } else {
            EngineError result = m_file.OpenTarget(m_partPath);
            if (result != kErrorNone)
                return result;
            m_file.RepeatTables();
        }
        return kErrorNone;
    }

    // The sound that came before the first picture, after that picture.
    EngineError WriteHeld()
    {
        for (auto& [stream, packet] : m_held) {
            EngineError result = WriteNow(stream, *packet);
            if (result != kErrorNone)
                return result;
        }
        m_held.clear();
        return kErrorNone;
    }

    EngineError WriteNow(int stream, AVPacket& packet)
    {
        // Media time plus the fixed offset; the muxer adds its shift part.
        return m_file.Write(
            stream, packet, m_streams[stream].timeBase, kTimelineOffset90k - kMuxerShift90k);
    }

    // The current file is closed: give it its name, or remove it on failure.
    EngineError CompleteSegment(EngineError result)
    {
        if (result == kErrorNone && rename(m_partPath.c_str(), m_finalPath.c_str()) != 0) {
            EngineLog(LogLevel::Error, "cannot rename '%s'", m_partPath.c_str());
            result = kErrorWriteOutput;
        }
        if (result != kErrorNone)
            unlink(m_partPath.c_str());
        else
            MarkStartStep(StartStep::FirstOutput);
        EngineLog(LogLevel::Debug, "segment %lld complete", static_cast<long long>(m_current));
        m_current = 0;
        return result;
    }

    const std::string m_pattern;
    const SegmentPlan& m_plan;
    const VideoCutRule m_rule;
    const int64_t m_first;
    const std::vector<OutputStream> m_streams;
    JobControl& m_control;
    bool m_hasVideo = false;
    OutputFile m_file;
    int64_t m_current = 0; // segment being written, 0 = none
    std::string m_partPath;
    std::string m_finalPath;
    std::vector<std::pair<int, PacketPtr>> m_held; // sound before the first picture
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
            EngineError opened = Open();
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
        return m_file.Write(stream, packet, m_streams[stream].timeBase);
    }

    EngineError Finish() override
    {
        if (!m_open) {
            EngineLog(LogLevel::Error, "nothing was encoded for '%s'", m_path.c_str());
            return kErrorNoFrames;
        }
        EngineError result = m_file.Finish();
        m_file.Close();
        if (result == kErrorNone)
            MarkStartStep(StartStep::FirstOutput);
        return result;
    }

    void Discard() override { m_file.Close(); }

private:
    EngineError Open()
    {
        AVDictionary* options = nullptr;
        if (m_container == "mp4" || m_container == "mov" || m_container == "ipod")
            av_dict_set(&options, "movflags", "+faststart", 0);
        EngineError result = m_file.Create(
            m_path, m_container.empty() ? nullptr : m_container.c_str(), m_streams, m_control);
        if (result == kErrorNone)
            result = m_file.OpenTarget(m_path);
        if (result == kErrorNone)
            result = m_file.WriteHeader(m_path, &options);
        av_dict_free(&options);
        return result;
    }

    const std::string m_path;
    const std::string m_container;
    const std::vector<OutputStream> m_streams;
    JobControl& m_control;
    OutputFile m_file;
    bool m_open = false;
};

} // namespace

CodecParametersPtr ParametersOf(const AVCodecContext& encoder)
{
    CodecParametersPtr params(avcodec_parameters_alloc(), CodecParametersDeleter());
    if (!params || avcodec_parameters_from_context(params.get(), &encoder) < 0)
        return nullptr;
    params->sample_aspect_ratio = encoder.sample_aspect_ratio;
    return params;
}

CodecParametersPtr CopyParameters(const AVCodecParameters& source)
{
    CodecParametersPtr params(avcodec_parameters_alloc(), CodecParametersDeleter());
    if (!params || avcodec_parameters_copy(params.get(), &source) < 0)
        return nullptr;
    return params;
}

std::unique_ptr<OutputWriter> MakeSegmentWriter(const std::string& pattern, const SegmentPlan& plan,
    VideoCutRule rule, int64_t firstNumber, std::vector<OutputStream> streams, JobControl& control)
{
    return std::make_unique<SegmentWriter>(
        pattern, plan, rule, firstNumber, std::move(streams), control);
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
        AVRational tb = streams[stream].timeBase;
        double end = (packet->pts + std::max<int64_t>(packet->duration, 0)) * av_q2d(tb);
        EngineError result = writer.Write(stream, *packet);
        if (result != kErrorNone) {
            control.Fail(result, "the output cannot be written");
            break;
        }
        if (packet->pts != AV_NOPTS_VALUE && end > control.position.load())
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
