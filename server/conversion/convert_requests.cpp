// The conversion requests: "/convert" queues a job, "/convertCancel" and
// "/convertDeleteCompleteList" mark jobs for the worker to remove, "/convertList"
// answers with the URL of a one-time list file of the jobs.

#include "config/settings.h"
#include "config/trace.h"
#include "conversion/conversion_context.h"
#include "conversion/conversion_limits.h"
#include "conversion/convert_list.h"
#include "conversion/request_handlers.h"
#include "http/access_gate.h"
#include "http/answer.h"
#include "http/base_path.h"
#include "http/client_urls.h"
#include "http/request.h"
#include "library/one_time_list_files.h"
#include "library/request_paths.h"
#include "library/share_confine.h"
#include "library/shared_folders.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A decimal query value; anything else (missing, empty, not a number, out of range)
// counts as 0.
int DecimalVar(const HttpRequest& request, const char* name)
{
    const std::string text = GetRequestVar(request, name);
    if (text.empty())
        return 0;
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || value < -1000000 || value > 1000000)
        return 0;
    return static_cast<int>(value);
}

bool IsRegularFile(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool PathExists(const std::string& path)
{
    struct stat info { };
    return lstat(path.c_str(), &info) == 0;
}

void WriteError(ConversionContext& server, HttpRequest& request, int code, const char* textKey)
{
    WritePlistAnswer(request, MakeErrorAnswer(server.Texts(), code, textKey));
}

// Writes the job list to a list file and answers with its URL.
void ResponseConvertList(ConversionContext& server, HttpRequest& request)
{
    const std::string document
        = MakeConvertListDocument(server.Texts(), server.ConvertQueue().Jobs());
    TraceMessage(kTraceProgress, "ResponseConvertList XML : %s", document.c_str());
    std::string name;
    if (!MakeAndGetXmlFile(server, document, name, ListFileOwnerOf(server, request))) {
        WriteError(server, request, kResultFailedUnknown, kTextFailedUnknown);
        return;
    }
    const std::string url
        = RootUrl(ClientUrlHost(request, ReadBasePath(server.Settings())), server.ExtPort())
        + "/xml/" + name;
    WritePlistAnswer(request, PlistDocument(PlistAnswer(kResultOk).Add("fileurl", url).Body()));
}

// A job of the queue that writes (or is about to stop writing) this temporary file.
bool IsTargetOwned(ConversionContext& server, const std::string& tempPath)
{
    for (const ConvertJobPtr& job : server.ConvertQueue().Jobs()) {
        if (job->strOutputPath == tempPath && (job->bOwnsTemp || job->nState == kConvertConverting))
            return true;
    }
    return false;
}

// A "/convert" that is refused with -100 names why in its text.
struct ConvertRefusal {
    int code = kResultOk;
    const char* textKey = kTextFailedUnknown;
};

// The client a job counts against: the id it carries, else its address.
std::string JobOwner(ConversionContext& server, const HttpRequest& request)
{
    std::string id = CarriedClientId(server, request);
    return id.empty() ? "address " + request.RemoteAddress() : "id " + id;
}

// The steps of "/convert" up to the queue; the result code, job filled on 0.
ConvertRefusal PrepareConvertJob(
    ConversionContext& server, const std::string& path, ConvertJobPtr& job)
{
    if (path.empty())
        return { kResultFailedInput, kTextFailedInput };
    const RequestPathMapping mapping
        = MapRequestPath(server.SharedFolders(), path, RequestPathKind::File);
    if (mapping.status != RequestPathStatus::Mapped || !IsRegularFile(mapping.diskPath)
        || !IsInsideShare(
            mapping.diskPath, server.SharedFolders().FindSharedFolderPath(mapping.shareName)))
        return { kResultNotExist, kTextNotExistFile };
    // Converting an output again makes "-vembacast-vembacast.m4v" and so on without end.
    if (IsConversionOutputName(ConvertFileName(mapping.diskPath)))
        return { kResultFailedUnknown, kTextConvertOutput };
    std::string id = server.Clients().MakeGUID();
    if (id.empty())
        return {};
    job = std::make_shared<ConvertInfo_t>(server);
    job->strConvertID = id;
    job->strSourcePath = path;
    job->strOutputPath = MakeConvertTempPath(mapping.diskPath);
    job->strSourceDisk = mapping.diskPath;
    job->SetFilePath(mapping.requestPath);
    // A running conversion's file is told from the queue: on this system deleting a
    // file that an engine writes would succeed.
    if (IsTargetOwned(server, job->strOutputPath))
        return { kResultDuplicateName, kTextDuplicateName };
    if (PathExists(job->strOutputPath) && ::unlink(job->strOutputPath.c_str()) != 0)
        return { kResultDuplicateName, kTextDuplicateName };
    if (PathExists(job->FinalOutputPath()))
        return { kResultDuplicateName, kTextDuplicateName };
    if (!HasRoomToConvert(mapping.diskPath, job->strOutputPath))
        return { kResultFailedUnknown, kTextConvertDiskFull };
    return { kResultOk, nullptr };
}

} // namespace

void OnNotifyGetConvertList(ConversionContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyGetConvertList", request.QueryString());
    ResponseConvertList(server, request);
}

void OnNotifyConvert(ConversionContext& server, HttpRequest& request)
{
    const std::string path = GetRequestVar(request, "path");
    const int device = DecimalVar(request, "device");
    const int option = DecimalVar(request, "option");
    TraceMessage(kTraceRequest, "Noti : OnNotifyConvert: path:'%s', device:'%d', option:'%d'",
        path.c_str(), device, option);
    ConvertJobPtr job;
    ConvertRefusal refusal = PrepareConvertJob(server, path, job);
    if (refusal.code == kResultOk) {
        job->setConvertOptions(device, option);
        job->strOwner = JobOwner(server, request);
        switch (server.ConvertQueue().AddClientJob(job)) {
        case QueueAdmission::Added:
            break;
        case QueueAdmission::ClientFull:
        case QueueAdmission::QueueFull:
            refusal = { kResultFailedUnknown, kTextConvertQueueFull };
            break;
        case QueueAdmission::Stopped:
            refusal = { kResultFailedUnknown, kTextFailedUnknown }; // nothing takes it
            break;
        }
    }
    TraceMessage(kTraceProgress, "ResponseConvert : ('%s')", path.c_str());
    if (refusal.code == kResultOk) {
        const std::string answer
            = PlistDocument(PlistAnswer(kResultOk).Add("convertid", job->strConvertID).Body());
        TraceMessage(kTraceProgress, "ResponseConvert XML: ('%s')", answer.c_str());
        WritePlistAnswer(request, answer);
    } else {
        WriteError(server, request, refusal.code, refusal.textKey);
    }
    const int code = refusal.code;
    TraceMessage(kTraceRequest, " - Noti complete: OnNotifyConvert: ('%s') Ret:'%d'",
        request.QueryString().c_str(), code);
}

void OnNotifyConvertCancel(ConversionContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyConvertCancel", request.QueryString());
    const std::string id = GetRequestVar(request, "convertid");
    if (id.empty()) {
        TraceMessage(kTraceProgress, "ResponseConvertCancel : ('%s')", id.c_str());
        WriteError(server, request, kResultFailedInput, kTextFailedInput);
        return;
    }
    for (const ConvertJobPtr& job : server.ConvertQueue().Jobs()) {
        if (job->strConvertID == id && job->nState != kConvertRemoved) {
            // The worker stops its engine and deletes its file; a job so marked is no
            // longer listed, so the list below needs no pause.
            job->MarkRemoved();
            ResponseConvertList(server, request);
            return;
        }
    }
    TraceMessage(kTraceProgress, "ResponseConvertCancel : ('%s')", id.c_str());
    WriteError(server, request, kResultFailedId, kTextFailedId);
}

void OnNotifyConvertUpdateProgress(ConversionContext&, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyConvertUpdateProgress", request.QueryString());
}

void OnNotifyConvertDeleteCompleteList(ConversionContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyConvertDeleteCompleteList", request.QueryString());
    server.ConvertQueue().MarkJobs(false);
    ResponseConvertList(server, request);
}
