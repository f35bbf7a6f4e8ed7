// The encoder engine as the source of thumbnail frames: one private engine run per
// picture. Engine starts share no lock, so several pictures can be made at once.
// Every run ends with QuitEncoding, so no engine is left behind.

#include "config/trace.h"
#include "enginectl/encoder.h"
#include "library/thumbnail.h"

namespace {

FrameResult RequestFrame(const std::string& mediaPath, EngineFrame& frame)
{
    CEncoder encoder; // no notify target: a thumbnail run tells nobody
    int started = 0;
    TraceMessage(kTraceProgress, "Thumbnail : Encoder.CreateEnginePipe");
    const int pipe = encoder.CreateEnginePipe();
    if (pipe < 0) {
        TraceMessage(kTraceProgress, "Fail QZ_MakeThumbnail(Cannot create Pipe) : ('%s')",
            mediaPath.c_str());
    } else {
        started = encoder.RunQZThumbEngine({ "-pipename=" + std::to_string(pipe) });
    }
    FrameResult result = FrameResult::EngineFailed;
    if (started) {
        std::shared_ptr<const EngineImage> image = encoder.EngineRequest(mediaPath);
        result = FrameResult::NoImage;
        if (image && !image->pixels.empty()) {
            frame.header.assign(image->header.begin(), image->header.end());
            frame.pixels = image->pixels;
            result = FrameResult::Image;
        }
    }
    if (!encoder.QuitEncoding())
        encoder.TerminateEngine();
    return result;
}

} // namespace

FrameSource EngineFrameSource()
{
    return RequestFrame;
}
