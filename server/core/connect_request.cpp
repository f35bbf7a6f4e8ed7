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
#include "http/client_urls.h"
#include "http/password_attempts.h"
#include "http/request.h"

#include <chrono>

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

// What a password-checked "/connect" decided.
struct Admission {
    bool admitted = false;
    std::string knownId; // an id the browser's cookie already holds: it is given back
    const char* refusalText = kTextFailedPassword;
    // On a refusal after a failure: the whole seconds until the address may try again.
    long long retryAfter = 0;
};

// Whole seconds, rounded up: a client that waits them finds the back-off over.
long long SecondsUp(std::chrono::steady_clock::duration wait)
{
    return std::chrono::ceil<std::chrono::seconds>(wait).count();
}

// With "RequirePassword" 1. A browser that holds a known id in its cookie is let in
// under that id without a password (a reload of the page); one that sends no password
// is told one is needed, which is no failure. Otherwise the password is compared,
// unless its address still waits out the back-off of an earlier failure; a failure is
// counted against the client's address, a success clears it.
Admission CheckPassword(CVembaServer& server, const HttpRequest& request)
{
    Admission admission;
    const std::string password = GetRequestVar(request, "password");
    if (password.empty()) {
        admission.knownId = CookieClientId(server, request);
        admission.admitted = !admission.knownId.empty();
        admission.refusalText = kTextPasswordNeeded;
        return admission;
    }
    PasswordAttempts& attempts = server.ConnectAttempts();
    const std::string& address = request.RemoteAddress();
    if (const auto wait = attempts.WaitLeft(address); wait > wait.zero()) {
        TraceMessage(
            kTraceRequest, " - Password refused: wait after a failure (%s)", address.c_str());
        admission.refusalText = kTextPasswordWait;
        admission.retryAfter = SecondsUp(wait);
        return admission;
    }
    if (PasswordMatches(password, server.Settings().ReadText(kKeyPassword))) {
        attempts.RecordSuccess(address);
        admission.admitted = true;
        return admission;
    }
    admission.retryAfter = SecondsUp(attempts.RecordFailure(address));
    TraceMessage(kTraceRequest, " - Password wrong (%s)", address.c_str());
    return admission;
}

} // namespace

void ResponseConnect(CVembaServer& server, HttpRequest& request)
{
    bool required = IsPasswordRequired(server);
    Admission admission;
    if (required) {
        admission = CheckPassword(server, request);
        if (!admission.admitted) {
            // "retryafter" tells a client how long its address waits before a try counts,
            // so it need not guess; phones ignore keys they do not know.
            PlistDict answer
                = PlistAnswer(kResultFailedPassword, server.Texts().Lookup(admission.refusalText));
            answer.Add("password", "");
            if (admission.retryAfter > 0)
                answer.Add("retryafter", admission.retryAfter);
            WritePlistAnswer(request, PlistDocument(answer.Body()));
            TraceMessage(kTraceRequest, "ResponseConnect: ('%s')", request.Uri().c_str());
            return;
        }
    }
    std::string id = admission.knownId;
    int result = kResultOk;
    if (!id.empty()) {
        TraceMessage(kTraceProgress, "Known id (%s)", id.c_str());
    } else if (server.Clients().MakeGUID(id)) {
        TraceMessage(kTraceProgress, "MakeGUID (%s)", id.c_str());
    } else {
        TraceMessage(kTraceStreamFailure, " [[ MakeGUID ]] ");
        result = kResultFailedCreateId;
    }
    if (required && result == kResultOk) {
        // A browser keeps the id in a cookie that its scripts cannot read.
        request.Write("HTTP/1.1 200 OK\r\n");
        request.Write(
            ClientIdCookieHeader(id, request.IsSecure(), ReadBasePath(server.Settings())));
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
        const bool returning = !admission.knownId.empty();
        if (!returning)
            server.Clients().SetClientHost(
                id, ClientUrlHost(request, ReadBasePath(server.Settings())));
        // A returning browser whose session was released gets a new one under its id.
        if (!returning || !server.Sessions().QZ_FindClientInfo(id))
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
