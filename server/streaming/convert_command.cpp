#include "streaming/convert_command.h"

#include "config/trace.h"
#include "library/media_properties.h"
#include "library/request_paths.h"
#include "library/share_confine.h"
#include "platform/process.h"
#include "streaming/command_line.h"
#include "streaming/subtitle_script.h"

#include <thread>

std::vector<std::string> QZ_MakeConvertCmd(ConvertCommandJob& job, int pipeNumber)
{
    RequestPathMapping mapping;
    if (!job.localPath.empty()) {
        mapping.diskPath = job.localPath; // dropped on the window: the person chose it
    } else {
        mapping = MapRequestPath(job.sourcePath, RequestPathKind::File);
        if (!IsMappedInsideShare(mapping))
            return {}; // a link out of the share is not converted, as it is not downloaded
    }
    std::string codecId;
    double frameRate = 0;
    int width = 0;
    int height = 0;
    if (!GetMovieProperty(codecId, frameRate, mapping.diskPath, job.durationMs, width, height))
        TraceMessage(kTraceProgress, "GetMovieProperty Return False");

    ConvertLine line;
    line.localPath = mapping.diskPath;
    line.frameRate = static_cast<float>(frameRate);
    line.size = ComputeScaledSize(kConvertBoxWidth, kConvertBoxHeight, width, height);
    // The script is laid out for the scaled picture, made after the scale option.
    job.subtitleScript.clear();
    if (!FindSamiFileFor(mapping.diskPath).empty()) {
        std::string base = TakeConvertSubtitleScriptBase();
        if (!base.empty()) {
            line.subtitleOptions = MakeSubtitleScript(
                { mapping.diskPath, line.size.width, line.size.height, base, 0 });
            job.subtitleScript = base + ".ass";
        }
    }
    line.bitrate = job.bitrate;
    line.processors = std::thread::hardware_concurrency();
    line.outputPath = job.outputPath;
    line.pipeNumber = pipeNumber;
    std::vector<std::string> words = MakeConvertCommandLine(line);
    TraceMessage(kTraceEncoderParam, "QZ_MakeConvertCmd '%s'", CommandLineText(words).c_str());
    return words;
}
