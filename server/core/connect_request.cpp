// "/connect": admission of a client. It gets a fresh id, the host it connected
// under is recorded, its idle session is created and the password the user set is
// handed back (the client asks its user and compares; the server checks none).

#include "config/settings.h"
#include "config/texts.h"
#include "config/trace.h"
#include "core/request_handlers.h"
#include "http/answer.h"
#include "http/client_ids.h"
#include "http/request.h"
#include "streaming/session_list.h"

namespace {

// The password is handed out only when password mode is exactly 1.
std::string PasswordToHandOut()
{
    if (ReadSettingInt(kKeyPasswordMode, kDefaultPasswordMode) != 1)
        return std::string();
    return ReadSettingText(kKeyPassword);
}

} // namespace

void ResponseConnect(HttpRequest& request)
{
    std::string id;
    int result = kResultOk;
    if (MakeGUID(id)) {
        TraceMessage(kTraceProgress, "MakeGUID (%s)", id.c_str());
    } else {
        TraceMessage(kTraceStreamFailure, " [[ MakeGUID ]] ");
        result = kResultFailedCreateId;
    }
    WriteAnswerHeader(request);
    std::string password = PasswordToHandOut();
    std::string document;
    if (result == kResultFailedCreateId) {
        document = PlistDocument(
            PlistAnswer(result, LookupText(kTextFailedCreateId)).Add("password", password).Body());
    } else {
        SetClientHost(id, GetRequestHost(request));
        QZ_AddClientInfo(id);
        document = PlistDocument(PlistAnswer(kResultOk, id).Add("password", password).Body());
    }
    WriteAnswerDocument(request, document);
    TraceMessage(kTraceRequest, "ResponseConnect: ('%s')", request.Uri().c_str());
}

void OnNotifyConnect(HttpRequest& request)
{
    HandlerTrace trace("OnNotifyConnect", request.Uri());
    // No client version is read or compared.
    TraceMessage(kTraceRequest, " - Checking Version: ( client:'%s') ", "");
    ResponseConnect(request);
}
