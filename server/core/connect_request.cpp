// "/connect": admission of a client. It gets a fresh id, the host it connected
// under is recorded, its idle session is created and the password the user set is
// handed back (the client asks its user and compares; the server checks none).

#include "config/settings.h"
#include "config/texts.h"
#include "config/trace.h"
#include "core/request_handlers.h"
#include "core/vemba_server.h"
#include "http/access_gate.h"
#include "http/answer.h"
#include "http/base_path.h"
#include "http/password_attempts.h"
#include "http/request.h"

namespace {

// The password is handed out only when password mode is exactly 1, and never when the
// server checks it itself.
std::string PasswordToHandOut(CVembaServer& server)
{
    if (server.Settings().ReadInt(kKeyPasswordMode, kDefaultPasswordMode) != 1
        || IsPasswordRequired(server))
        return std::string();
    return server.Settings().ReadText(kKeyPassword);
}

// With "RequirePassword" 1: true when "password" matches the stored one and the
// failure limits leave room; a failure is counted against the caller's address.
bool PasswordAccepted(CVembaServer& server, const HttpRequest& request)
{
    PasswordAttempts& attempts = server.ConnectAttempts();
    if (!attempts.MayTry(request.RemoteAddress())) {
        TraceMessage(kTraceRequest, " - Password refused: too many failures (%s)",
            request.RemoteAddress().c_str());
        return false;
    }
    if (PasswordMatches(
            GetRequestVar(request, "password"), server.Settings().ReadText(kKeyPassword)))
        return true;
    attempts.RecordFailure(request.RemoteAddress());
    TraceMessage(kTraceRequest, " - Password wrong (%s)", request.RemoteAddress().c_str());
    return false;
}

} // namespace

void ResponseConnect(CVembaServer& server, HttpRequest& request)
{
    bool required = IsPasswordRequired(server);
    if (required && !PasswordAccepted(server, request)) {
        WritePlistAnswer(request,
            PlistDocument(
                PlistAnswer(kResultFailedPassword, server.Texts().Lookup(kTextFailedPassword))
                    .Add("password", "")
                    .Body()));
        TraceMessage(kTraceRequest, "ResponseConnect: ('%s')", request.Uri().c_str());
        return;
    }
    std::string id;
    int result = kResultOk;
    if (server.Clients().MakeGUID(id)) {
        TraceMessage(kTraceProgress, "MakeGUID (%s)", id.c_str());
    } else {
        TraceMessage(kTraceStreamFailure, " [[ MakeGUID ]] ");
        result = kResultFailedCreateId;
    }
    if (required && result == kResultOk) {
        // A browser keeps the id in a cookie that its scripts cannot read.
        request.Write("HTTP/1.1 200 OK\r\n");
        request.Write(ClientIdCookieHeader(id, ReadBasePath(server.Settings())));
        request.Write("Content-Type: text/xml\r\n\r\n");
    } else {
        WriteAnswerHeader(request);
    }
    std::string password = PasswordToHandOut(server);
    std::string document;
    if (result == kResultFailedCreateId) {
        document = PlistDocument(PlistAnswer(result, server.Texts().Lookup(kTextFailedCreateId))
                                     .Add("password", password)
                                     .Body());
    } else {
        server.Clients().SetClientHost(id, GetRequestHost(request));
        server.Sessions().QZ_AddClientInfo(id);
        document = PlistDocument(PlistAnswer(kResultOk, id).Add("password", password).Body());
    }
    WriteAnswerDocument(request, document);
    TraceMessage(kTraceRequest, "ResponseConnect: ('%s')", request.Uri().c_str());
}

void OnNotifyConnect(CVembaServer& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyConnect", request.Uri());
    // No client version is read or compared.
    TraceMessage(kTraceRequest, " - Checking Version: ( client:'%s') ", "");
    ResponseConnect(server, request);
}
