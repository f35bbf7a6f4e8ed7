#include "conversion/convert_list.h"

#include "config/texts.h"
#include "http/answer.h"

#include <algorithm>

namespace {

std::string StringElement(const std::string& text)
{
    return "<string>" + XmlEscape(text) + "</string>";
}

std::string FinishedEntry(const TextTable& texts, const ConvertInfo_t& job, bool failed)
{
    std::string name = ConvertFileName(job.strSourcePath);
    if (failed)
        name += "," + texts.Lookup("IDS_WORD_CONV_FAILED");
    return "<dict><key>convertid</key>" + StringElement(job.strConvertID) + "<key>filename</key>"
        + StringElement(name) + "<key>status</key>" + StringElement(failed ? "-1" : "0")
        + "</dict>";
}

std::string OpenEntry(const ConvertInfo_t& job, bool converting)
{
    const int progress = converting ? std::max(0, job.nProgress.load()) : -1;
    return "<dict><key>convertid</key>" + StringElement(job.strConvertID) + "<key>filename</key>"
        + StringElement(ConvertFileName(job.strSourcePath)) + "<key>progress</key>"
        + StringElement(std::to_string(progress)) + "</dict>";
}

} // namespace

std::string MakeConvertListDocument(const TextTable& texts, const std::vector<ConvertJobPtr>& jobs)
{
    std::string finished;
    std::string open;
    for (const ConvertJobPtr& job : jobs) {
        switch (job->nState.load()) {
        case kConvertComplete:
            finished += FinishedEntry(texts, *job, false);
            break;
        case kConvertFailed:
            finished += FinishedEntry(texts, *job, true);
            break;
        case kConvertWaiting:
            open += OpenEntry(*job, false);
            break;
        case kConvertConverting:
            open += OpenEntry(*job, true);
            break;
        default:
            break;
        }
    }
    return PlistDocument("<key>convertComplete</key><array>" + finished
        + "</array><key>convertWait</key><array>" + open + "</array>");
}
