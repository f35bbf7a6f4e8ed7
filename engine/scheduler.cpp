#include "engine/scheduler.h"

#include "engine/decoder_threads.h"
#include "engine/engine_log.h"
#include "engine/segment_naming.h"

#include <sys/resource.h>
#include <thread>

namespace {

constexpr size_t kVideoPacketQueue = 64;
constexpr size_t kAudioPacketQueue = 512;
constexpr size_t kSlotQueue = 6;
constexpr size_t kFrameQueue = 6;

// Runs a stage and notes the processor time its thread used, for tuning.
template <typename Body> std::thread StageThread(const char* name, Body body)
{
    return std::thread([name, body] {
        body();
        rusage usage {};
        getrusage(RUSAGE_THREAD, &usage);
        EngineLog(LogLevel::Debug, "stage %s used %.2f s", name,
            usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
                + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
    });
}

} // namespace

Scheduler::Scheduler(const EngineOptions& options, JobControl& control)
    : m_options(options)
    , m_control(control)
{
}

Scheduler::~Scheduler() = default;

EngineError Scheduler::Prepare()
{
    if (m_options.output.empty())
        return kErrorBadCommandLine;
    EngineError result = m_input.Open(m_options.input, m_control);
    if (result != kErrorNone)
        return result;
    const AVCodecParameters* video = m_input.VideoStream()->codecpar;
    m_sourceWidth = video->width;
    m_sourceHeight = video->height;
    if (m_sourceWidth <= 0 || m_sourceHeight <= 0 || m_sourceWidth > 16384
        || m_sourceHeight > 16384) {
        EngineLog(
            LogLevel::Error, "the video has no usable size (%dx%d)", m_sourceWidth, m_sourceHeight);
        return kErrorDecoder;
    }
    m_input.SeekTo(m_options.startSeconds);

    std::unique_ptr<SubtitleRenderer> subtitles;
    if (m_options.HasSubtitles()) {
        subtitles = std::make_unique<SubtitleRenderer>();
        if (!subtitles->Open(
                m_options.subtitleFile, m_options.fontFile, m_options.subtitleCodepage))
            subtitles.reset();
    }
    m_pictures.Configure(
        m_options.filters, m_sourceWidth, m_sourceHeight, std::move(subtitles), SWS_BICUBIC);

    DecodeTuning tuning;
    tuning.startSeconds = m_options.startSeconds;
    tuning.rateNum = m_options.outputFpsNum;
    tuning.rateDen = m_options.outputFpsDen;
    tuning.fpsHint = m_options.inputFpsHint;
    tuning.decoderThreads = DecoderThreadsFromEnvironment();
    tuning.skipBidirDeblock
        = static_cast<int64_t>(m_pictures.OutputWidth()) * m_pictures.OutputHeight() * 4
        <= static_cast<int64_t>(m_sourceWidth) * m_sourceHeight;
    EngineLog(LogLevel::Info, "decoder threads %d, B picture deblocking %s", tuning.decoderThreads,
        tuning.skipBidirDeblock ? "skipped" : "kept");
    result = m_decode.Open(m_input, tuning);
    if (result != kErrorNone)
        return result;

    bool mp4 = m_options.segmentSeconds == 0
        && (m_options.container == "mp4" || m_options.container == "mov"
            || m_options.container == "ipod"
            || (m_options.container.empty() && m_options.output.size() > 4
                && (m_options.output.ends_with(".mp4") || m_options.output.ends_with(".m4v"))));
    VideoEncodeSettings settings;
    settings.width = m_pictures.OutputWidth();
    settings.height = m_pictures.OutputHeight();
    bool scaled
        = m_pictures.OutputWidth() != m_sourceWidth || m_pictures.OutputHeight() != m_sourceHeight;
    settings.sampleAspect
        = scaled ? AVRational { 1, 1 } : m_input.VideoStream()->codecpar->sample_aspect_ratio;
    settings.rateNum = m_options.outputFpsNum;
    settings.rateDen = m_options.outputFpsDen;
    settings.x264 = MapX264Options(m_options.x264Options);
    for (const std::string& note : settings.x264.notes)
        EngineLog(LogLevel::Warning, "%s", note.c_str());
    settings.globalHeader = mp4;
    if (m_options.segmentSeconds > 0)
        settings.slotsPerSegment = static_cast<int64_t>(m_options.segmentSeconds)
            * m_options.outputFpsNum / m_options.outputFpsDen;
    result = m_encode.Open(settings);
    if (result != kErrorNone)
        return result;

    if (m_input.AudioStream() && !m_options.noAudio) {
        m_audio = std::make_unique<AudioStage>();
        if (!m_audio->Open(m_input, m_options.audioBitrateKbps, m_options.startSeconds))
            m_audio.reset();
    }
    m_control.position = m_options.startSeconds;
    EngineLog(LogLevel::Info, "%dx%d -> %dx%d, start %.3f s, %s", m_sourceWidth, m_sourceHeight,
        m_pictures.OutputWidth(), m_pictures.OutputHeight(), m_options.startSeconds,
        m_audio ? "with sound" : "no sound");
    return kErrorNone;
}

std::vector<OutputStream> Scheduler::OutputStreams() const
{
    std::vector<OutputStream> streams;
    streams.push_back({ &m_encode.Codec(), m_decode.FirstSlot() });
    if (m_audio)
        streams.push_back({ &m_audio->Codec(), m_audio->FirstSample() });
    return streams;
}

EngineError Scheduler::Run()
{
    std::vector<OutputStream> streams = OutputStreams();
    std::vector<AVRational> timeBases;
    for (const OutputStream& stream : streams)
        timeBases.push_back(stream.encoder->time_base);
    std::unique_ptr<OutputWriter> writer = m_options.segmentSeconds > 0
        ? MakeSegmentWriter(m_options.output, m_options.segmentSeconds,
            FirstSegmentNumber(m_options.startSeconds, m_options.segmentSeconds), streams,
            m_control)
        : MakeFileWriter(m_options.output, m_options.container, streams, m_control);

    PacketQueue videoPackets(kVideoPacketQueue);
    PacketQueue audioPackets(kAudioPacketQueue);
    VideoWorkQueue slots(kSlotQueue);
    FrameQueue frames(kFrameQueue);
    MuxInbox inbox(timeBases);
    PacketQueue* audioIn = m_audio ? &audioPackets : nullptr;

    // Any stage that stops the job wakes every other stage.
    m_control.SetAbortHandler([&] {
        videoPackets.Abort();
        audioPackets.Abort();
        slots.Abort();
        frames.Abort();
        inbox.Abort();
    });
    std::vector<std::thread> threads;
    threads.push_back(StageThread("demux", [&] { m_input.Run(videoPackets, audioIn, m_control); }));
    threads.push_back(
        StageThread("video decode", [&] { m_decode.Run(videoPackets, slots, m_control); }));
    threads.push_back(StageThread("picture", [&] { m_pictures.Run(slots, frames, m_control); }));
    threads.push_back(
        StageThread("video encode", [&] { m_encode.Run(frames, inbox, 0, m_control); }));
    if (m_audio)
        threads.push_back(
            StageThread("audio", [&] { m_audio->Run(audioPackets, inbox, 1, m_control); }));
    RunMux(inbox, *writer, streams, m_control);
    if (m_control.Aborted()) {
        // The writer stopped early; make sure nothing upstream waits for it.
        inbox.Abort();
    }
    for (std::thread& thread : threads)
        thread.join();
    m_control.SetAbortHandler(nullptr);

    if (m_control.Error() == kErrorNone && !m_control.Aborted() && m_decode.SlotsEmitted() == 0)
        m_control.Fail(kErrorNoFrames, "no picture could be decoded");
    return m_control.Error();
}
