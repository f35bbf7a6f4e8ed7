#include "conversion_queue.h"

#include "config/settings.h"
#include "conversion/conversion_context.h"
#include "platform/guid.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace {

// The temporary file the engine writes for a final name: ".m4v" becomes ".m4vtmp",
// so the queue renames it to exactly that final name.
std::string TempPathFor(const std::string& finalPath)
{
    return finalPath + "tmp";
}

} // namespace

std::string ConversionOutputPath(
    const std::string& source, const std::function<bool(const std::string&)>& taken)
{
    std::string folder = GetFolderOf(source);
    std::string base = GetFileTitleOf(source);
    auto inUse
        = [&](const std::string& name) { return FileExists(name) || (taken && taken(name)); };
    std::string output = folder + "/" + base + "-vembacast.m4v";
    for (int number = 2; inUse(output); ++number)
        output = folder + "/" + base + "-vembacast (" + std::to_string(number) + ").m4v";
    return output;
}

std::vector<ConversionRow> ReadConversionRows(const CConvertQueue& queue)
{
    std::vector<ConversionRow> rows;
    for (const ConvertJobPtr& job : queue.Jobs()) {
        ConversionRow row;
        row.convertId = job->strConvertID;
        row.sourcePath = job->strSourcePath;
        row.outputPath = job->FinalOutputPath();
        row.progress = std::clamp(job->nProgress.load(), 0, 100);
        row.state = job->nState;
        rows.push_back(std::move(row));
    }
    return rows;
}

bool QueueLocalFile(ConversionContext& server, const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error) || ::access(path.c_str(), R_OK) != 0)
        return false;
    std::optional<Guid> guid = CreateGuid();
    if (!guid)
        return false;
    CConvertQueue& queue = server.ConvertQueue();
    std::vector<ConvertJobPtr> queued = queue.Jobs();
    // A second drop of the same file gets its own output name, not the first one's.
    std::string output = ConversionOutputPath(path, [&](const std::string& name) {
        return std::any_of(queued.begin(), queued.end(), [&](const ConvertJobPtr& job) {
            return job->nState != kConvertRemoved && job->FinalOutputPath() == name;
        });
    });
    auto job = std::make_shared<ConvertInfo_t>(server);
    job->strConvertID = GuidToHex(*guid);
    job->strSourcePath = path;
    job->strLocalSource = path;
    job->strOutputPath = TempPathFor(output);
    job->SetFilePath(path);
    job->setConvertOptions(0, 0); // 480x320 at 600 kbit/s
    return queue.AddJob(std::move(job), SameNameJobs::Keep);
}

void CancelConversion(CConvertQueue& queue, const std::string& convertId)
{
    for (const ConvertJobPtr& job : queue.Jobs()) {
        if (job->strConvertID == convertId)
            job->MarkRemoved();
    }
}

void RemoveCompletedConversions(CConvertQueue& queue)
{
    for (const ConvertJobPtr& job : queue.Jobs()) {
        if (job->nState == kConvertComplete)
            job->MarkRemoved();
    }
}
