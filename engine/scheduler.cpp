#include "engine/scheduler.h"

#include "engine/decoder_threads.h"
#include "engine/engine_log.h"
#include "engine/segment_naming.h"
#include "engine/stream_subtitles.h"

#include <cmath>
#include <sys/resource.h>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

// The two packet queues together must hold less media time than the mux waits for a
// lagging stream (10 s): a starved audio thread then stops the demuxer before the mux
// gives up waiting, so a copied picture never runs ahead of its sound into a later
// segment. 128 AAC packets are about 3 s at 44.1 kHz.
constexpr size_t kVideoPacketQueue = 64;
constexpr size_t kAudioPacketQueue = 128;
constexpr size_t kSlotQueue = 6;
constexpr size_t kFrameQueue = 6;

// A -ss given as a cut (the same text the cut file holds) is within this of it.
constexpr double kCutStartTolerance = 0.0005;

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

bool IsMp4Output(const EngineOptions& options)
{
    const std::string& c = options.container;
    return options.segmentSeconds == 0
        && (c == "mp4" || c == "mov" || c == "ipod"
            || (c.empty() && options.output.size() > 4
                && (options.output.ends_with(".mp4") || options.output.ends_with(".m4v"))));
}

} // namespace

Scheduler::Scheduler(const EngineOptions& options, JobControl& control)
    : m_options(options)
    , m_control(control)
    , m_plan(SegmentPlan::Grid(options.segmentSeconds))
{
}

Scheduler::~Scheduler() = default;

EngineError Scheduler::LoadPlan()
{
    if (m_options.cutsFile.empty())
        return kErrorNone;
    if (m_options.segmentSeconds == 0) {
        EngineLog(LogLevel::Info, "-cuts without live segments: ignored");
        return kErrorNone;
    }
    std::vector<double> cuts;
    std::string why;
    if (!ReadCutFile(m_options.cutsFile, cuts, why)) {
        EngineLog(LogLevel::Error, "cut file '%s': %s", m_options.cutsFile.c_str(), why.c_str());
        return kErrorBadCommandLine;
    }
    m_plan = SegmentPlan::Cuts(std::move(cuts));
    return kErrorNone;
}

void Scheduler::ChooseRate()
{
    AVStream* video = m_input.VideoStream();
    AVRational source = NominalFrameRate(video->avg_frame_rate, video->r_frame_rate);
    m_keyTolerance = 0.5 / av_q2d(source);
    if (m_options.outputFpsGiven) {
        m_rateNum = m_options.outputFpsNum;
        m_rateDen = m_options.outputFpsDen;
    } else {
        m_rateNum = source.num;
        m_rateDen = source.den;
    }
}

EngineError Scheduler::Prepare()
{
    if (m_options.output.empty())
        return kErrorBadCommandLine;
    EngineError result = LoadPlan();
    if (result != kErrorNone)
        return result;
    OpenSettings open;
    open.audioTrack = m_options.audioTrack;
    open.shortProbe = m_options.keyframeSeconds >= 0;
    result = m_input.Open(m_options.input, m_control, open);
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
    ChooseRate();
    double start = m_options.startSeconds;
    m_firstSegment = m_plan.SegmentAt(start,
        m_options.CopyVideo()    ? m_keyTolerance
            : m_plan.IsCutList() ? kCutStartTolerance
                                 : 0);
    if (m_options.CopyVideo() && !PrepareCopy())
        EngineLog(LogLevel::Info, "encoding the video instead of copying it");
    if (!m_copyVideo) {
        result = PrepareTranscode();
        if (result != kErrorNone)
            return result;
    }
    PrepareAudio();
    m_control.startSeconds = start;
    m_control.position = start;
    EngineLog(LogLevel::Info, "%dx%d -> %s, start %.3f s (segment %lld), %s", m_sourceWidth,
        m_sourceHeight,
        m_copyVideo ? "copy"
                    : (std::to_string(m_pictures.OutputWidth()) + "x"
                        + std::to_string(m_pictures.OutputHeight()))
                          .c_str(),
        start, static_cast<long long>(m_firstSegment),
        m_audioCopy   ? "sound copied"
            : m_audio ? "with sound"
                      : "no sound");
    return kErrorNone;
}

bool Scheduler::PrepareCopy()
{
    const AVCodecParameters& video = *m_input.VideoStream()->codecpar;
    if (m_options.segmentSeconds == 0) {
        EngineLog(LogLevel::Info, "-ovc copy is for live segments");
        return false;
    }
    if (!CopyableVideo(video)) {
        const char* format = av_get_pix_fmt_name(static_cast<AVPixelFormat>(video.format));
        EngineLog(LogLevel::Info, "%s video in %s cannot be copied",
            avcodec_get_name(video.codec_id), format ? format : "an unknown format");
        return false;
    }
    if (!m_videoCopy.Open(m_input))
        return false;
    // Straight to the key picture: the one -kf names, else the one at or before -ss.
    double wanted = m_options.startSeconds;
    double key = m_options.keyframeSeconds;
    if (key >= 0 && key <= wanted + m_keyTolerance)
        wanted = key;
    else if (key > wanted + m_keyTolerance)
        EngineLog(LogLevel::Info, "-kf %.6f is after -ss %.6f: ignored", key, wanted);
    m_input.SeekToKeyFrame(wanted, m_keyTolerance, m_control);
    m_gate = std::make_unique<CopyStartGate>(wanted, m_keyTolerance);
    m_copyVideo = true;
    return true;
}

EngineError Scheduler::PrepareTranscode()
{
    double start = m_options.startSeconds;
    double key = m_options.keyframeSeconds;
    if (key > start + m_keyTolerance)
        EngineLog(LogLevel::Info, "-kf %.6f is after -ss %.6f: ignored", key, start);
    if (key >= 0 && key <= start + m_keyTolerance)
        m_input.SeekToKeyFrame(std::min(key, start), m_keyTolerance, m_control);
    else
        m_input.SeekToKeyFrame(start, 0, m_control);

    std::unique_ptr<PictureSubtitles> subtitles;
    if (m_options.HasSubtitles()) {
        auto script = std::make_unique<SubtitleRenderer>();
        if (script->Open(m_options.subtitleFile, m_options.fontFile, m_options.subtitleCodepage))
            subtitles = std::move(script);
    } else if (m_options.burntSubtitleTrack >= 0) {
        // A stream that cannot be drawn leaves the picture as it is: the stream plays.
        auto stream = std::make_unique<StreamSubtitles>();
        if (stream->Open(m_options.input, m_options.burntSubtitleTrack, start, m_sourceWidth,
                m_sourceHeight, m_control))
            subtitles = std::move(stream);
    }
    int turn = m_options.autoRotate ? UprightTurn(*m_input.VideoStream()) : 0;
    if (turn != 0)
        EngineLog(LogLevel::Info, "turning the picture %d degrees to show it upright", turn);
    m_pictures.Configure(
        m_options.filters, m_sourceWidth, m_sourceHeight, std::move(subtitles), SWS_BICUBIC, turn);

    DecodeTuning tuning;
    tuning.startSeconds = start;
    tuning.rateNum = m_rateNum;
    tuning.rateDen = m_rateDen;
    // A start on a cut begins at the slot that opens the cut's segment.
    if (m_plan.IsCutList() && std::fabs(m_plan.StartOf(m_firstSegment) - start) <= m_keyTolerance)
        tuning.firstSlot = m_plan.FirstSlotOf(m_firstSegment, m_rateNum, m_rateDen);
    tuning.fpsHint = m_options.inputFpsHint;
    tuning.decoderThreads = DecoderThreadsFromEnvironment();
    tuning.skipBidirDeblock
        = static_cast<int64_t>(m_pictures.OutputWidth()) * m_pictures.OutputHeight() * 4
        <= static_cast<int64_t>(m_sourceWidth) * m_sourceHeight;
    EngineLog(LogLevel::Info, "decoder threads %d, B picture deblocking %s, %d/%d frames a second",
        tuning.decoderThreads, tuning.skipBidirDeblock ? "skipped" : "kept", m_rateNum, m_rateDen);
    EngineError result = m_decode.Open(m_input, tuning);
    if (result != kErrorNone)
        return result;

    VideoEncodeSettings settings;
    settings.width = m_pictures.OutputWidth();
    settings.height = m_pictures.OutputHeight();
    bool scaled
        = m_pictures.OutputWidth() != m_sourceWidth || m_pictures.OutputHeight() != m_sourceHeight;
    settings.sampleAspect
        = scaled ? AVRational { 1, 1 } : m_input.VideoStream()->codecpar->sample_aspect_ratio;
    settings.rateNum = m_rateNum;
    settings.rateDen = m_rateDen;
    settings.x264 = MapX264Options(m_options.x264Options);
    for (const std::string& note : settings.x264.notes)
        EngineLog(LogLevel::Warning, "%s", note.c_str());
    settings.globalHeader = IsMp4Output(m_options);
    if (m_options.segmentSeconds > 0)
        settings.plan = &m_plan;
    return m_encode.Open(settings);
}

void Scheduler::PrepareAudio()
{
    AVStream* audio = m_input.AudioStream();
    if (!audio || m_options.noAudio)
        return;
    if (m_options.CopyAudio() && CopyableAudio(*audio->codecpar)) {
        m_audioCopy = std::make_unique<AudioCopyStage>();
        m_audioCopy->Open(m_input);
        return;
    }
    if (m_options.CopyAudio())
        EngineLog(LogLevel::Info, "%s sound cannot be copied: encoding it to AAC",
            avcodec_get_name(audio->codecpar->codec_id));
    m_audio = std::make_unique<AudioStage>();
    if (!m_audio->Open(m_input, m_options.audioBitrateKbps, m_options.startSeconds))
        m_audio.reset();
}

std::vector<OutputStream> Scheduler::OutputStreams() const
{
    std::vector<OutputStream> streams;
    if (m_copyVideo) {
        streams.push_back(m_videoCopy.Output());
    } else {
        OutputStream video;
        video.params = ParametersOf(m_encode.Codec());
        video.timeBase = m_encode.Codec().time_base;
        video.firstTimestamp = m_decode.FirstSlot();
        video.video = true;
        streams.push_back(video);
    }
    if (m_audioCopy) {
        streams.push_back(m_audioCopy->Output());
    } else if (m_audio) {
        OutputStream audio;
        audio.params = ParametersOf(m_audio->Codec());
        audio.timeBase = m_audio->Codec().time_base;
        audio.firstTimestamp = m_audio->FirstSample();
        streams.push_back(audio);
    }
    return streams;
}

std::unique_ptr<OutputWriter> Scheduler::MakeWriter(const std::vector<OutputStream>& streams) const
{
    if (m_options.segmentSeconds == 0)
        return MakeFileWriter(m_options.output, m_options.container, streams, m_control);
    VideoCutRule rule;
    if (m_copyVideo) {
        rule.keyTolerance = m_keyTolerance;
    } else {
        rule.slotNum = m_rateNum;
        rule.slotDen = m_rateDen;
    }
    return MakeSegmentWriter(m_options.output, m_plan, rule, m_firstSegment, streams, m_control);
}

void Scheduler::StartVideoThreads(std::vector<std::thread>& threads, PacketQueue& packets,
    VideoWorkQueue& slots, FrameQueue& frames, MuxInbox& inbox)
{
    if (m_copyVideo) {
        threads.push_back(
            StageThread("video copy", [&] { m_videoCopy.Run(packets, inbox, 0, m_control); }));
        return;
    }
    threads.push_back(
        StageThread("video decode", [&] { m_decode.Run(packets, slots, m_control); }));
    threads.push_back(StageThread("picture", [&] { m_pictures.Run(slots, frames, m_control); }));
    threads.push_back(
        StageThread("video encode", [&] { m_encode.Run(frames, inbox, 0, m_control); }));
}

EngineError Scheduler::Run()
{
    std::vector<OutputStream> streams = OutputStreams();
    std::vector<AVRational> timeBases;
    for (const OutputStream& stream : streams) {
        if (!stream.params)
            return kErrorInternal;
        timeBases.push_back(stream.timeBase);
    }
    std::unique_ptr<OutputWriter> writer = MakeWriter(streams);

    PacketQueue videoPackets(kVideoPacketQueue);
    PacketQueue audioPackets(kAudioPacketQueue);
    VideoWorkQueue slots(kSlotQueue);
    FrameQueue frames(kFrameQueue);
    MuxInbox inbox(timeBases, 0);
    bool sound = m_audio || m_audioCopy;
    PacketQueue* audioIn = sound ? &audioPackets : nullptr;

    // Any stage that stops the job wakes every other stage.
    m_control.SetAbortHandler([&] {
        videoPackets.Abort();
        audioPackets.Abort();
        slots.Abort();
        frames.Abort();
        inbox.Abort();
    });
    std::vector<std::thread> threads;
    threads.push_back(
        StageThread("demux", [&] { m_input.Run(videoPackets, audioIn, m_control, m_gate.get()); }));
    StartVideoThreads(threads, videoPackets, slots, frames, inbox);
    if (m_audioCopy)
        threads.push_back(StageThread(
            "audio copy", [&] { m_audioCopy->Run(audioPackets, inbox, 1, m_control); }));
    else if (m_audio)
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

    if (m_gate && m_gate->StartedLate())
        EngineLog(LogLevel::Warning, "no key picture at or before %.6f s; started at %.6f s",
            m_options.startSeconds, m_gate->StartSeconds());
    int64_t pictures = m_copyVideo ? m_videoCopy.PacketsWritten() : m_decode.SlotsEmitted();
    if (m_control.Error() == kErrorNone && !m_control.Aborted() && pictures == 0)
        m_control.Fail(kErrorNoFrames, "no picture could be decoded");
    return m_control.Error();
}
