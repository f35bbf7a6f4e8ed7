#include "streaming/subtitle_script.h"

#include "config/settings.h"
#include "config/trace.h"
#include "streaming/command_line.h"
#include "streaming/font_file.h"
#include "subvoro/subvoro.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The face the scripts are drawn with; fontconfig finds a Korean font for it.
constexpr const char* kSubtitleFace = "굴림";

std::string TemporaryFolder()
{
    const char* folder = std::getenv("TMPDIR");
    std::string path = (folder && *folder) ? folder : "/tmp";
    if (path.back() != '/')
        path += '/';
    return path;
}

} // namespace

std::string FindSamiFileFor(const std::string& localPath)
{
    size_t slash = localPath.rfind('/');
    size_t dot = localPath.rfind('.');
    std::string base = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        ? localPath.substr(0, dot)
        : localPath;
    std::string sami = base + ".smi";
    return FileExists(sami) ? sami : std::string();
}

std::vector<std::string> MakeSubtitleScript(const SubtitleScriptJob& job)
{
    std::string sami = FindSamiFileFor(job.localPath);
    if (sami.empty())
        return {};
    CSubvoroter converter;
    converter.SetSyntaxErrorHandler([](int line, const std::string& message) {
        TraceMessage(kTraceStreamFailure, "subCon : line %d : %s", line, message.c_str());
    });
    converter.SetSamiLang("KR");
    converter.SubFileOpen(sami);
    converter.SetDstScreenSize(job.screenWidth, job.screenHeight);
    if (!converter.SetFontProperty(4.0f, 0x808080, 1, 0)) {
        TraceMessage(kTraceStreamFailure, "Fail subCon.SetFontProperty : no subtitle");
        TraceMessage(kTraceStreamFailure, "Fail subCon.SubFileSaveAs : no subtitle");
        return {};
    }
    if (!converter.SubFileSaveAs(job.scriptBase, EXTASS)) {
        TraceMessage(kTraceStreamFailure, "Fail subCon.SubFileSaveAs : no subtitle");
        return {};
    }
    std::string fontPath;
    if (!GetFontFile(kSubtitleFace, fontPath)) {
        TraceMessage(kTraceStreamFailure, "Fail GetFontFile : no subtitle");
        return {};
    }
    return MakeSubtitleOptions(fontPath, job.scriptBase, job.startSeconds);
}

std::string LiveSubtitleScriptBase(const std::string& workFolder)
{
    return workFolder + "/vembacast_temp";
}

std::string TakeConvertSubtitleScriptBase()
{
    static std::atomic<unsigned> counter { 0 };
    std::string folder = TemporaryFolder();
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned number = (static_cast<unsigned>(getpid()) << 12) ^ counter.fetch_add(1);
        char name[40];
        std::snprintf(name, sizeof name, "vembacast_conv_temp_%08X", number);
        std::string base = folder + name;
        int fd = ::open((base + ".ass").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return base;
        }
    }
    return {};
}
