#include "http/connect.h"

#include "config/settings.h"
#include "config/texts.h"
#include "config/trace.h"
#include "http/access_gate.h"
#include "http/answer.h"
#include "http/handlers.h"
#include "http/password_attempts.h"
#include "http/request.h"
#include "streaming/session_list.h"

#include <map>
#include <mutex>

namespace {

std::mutex g_guidSourceLock;
std::function<std::optional<Guid>()> g_guidSource; // guarded by g_guidSourceLock

struct ClientHostMap {
    std::mutex lock;
    std::map<std::string, std::string> hosts; // guarded by lock
};

ClientHostMap& Hosts()
{
    static ClientHostMap map;
    return map;
}

std::optional<Guid> NewGuid()
{
    std::function<std::optional<Guid>()> source;
    {
        std::lock_guard guard(g_guidSourceLock);
        source = g_guidSource;
    }
    return source ? source() : CreateGuid();
}

// The password is handed out only when password mode is exactly 1, and never when the
// server checks it itself.
std::string PasswordToHandOut()
{
    if (GetSettingInt(kSettingSection, "PasswordMode", 0) != 1 || IsPasswordRequired())
        return std::string();
    return GetSettingString("Password");
}

// With "RequirePassword" 1: true when "password" matches the stored one and the
// failure limits leave room; a failure is counted against the caller's address.
bool PasswordAccepted(const HttpRequest& request)
{
    PasswordAttempts& attempts = ConnectPasswordAttempts();
    if (!attempts.MayTry(request.RemoteAddress())) {
        TraceMessage(kTraceRequest, " - Password refused: too many failures (%s)",
            request.RemoteAddress().c_str());
        return false;
    }
    if (PasswordMatches(GetRequestVar(request, "password"), GetSettingString("Password")))
        return true;
    attempts.RecordFailure(request.RemoteAddress());
    TraceMessage(kTraceRequest, " - Password wrong (%s)", request.RemoteAddress().c_str());
    return false;
}

} // namespace

int MakeGUID(std::string& id)
{
    std::optional<Guid> guid = NewGuid();
    if (!guid)
        return 0;
    id = GuidToHex(*guid);
    return 1;
}

std::string MakeGUID()
{
    std::string id;
    return MakeGUID(id) ? id : std::string();
}

void SetGuidSourceForTesting(std::function<std::optional<Guid>()> source)
{
    std::lock_guard guard(g_guidSourceLock);
    g_guidSource = std::move(source);
}

void SetClientHost(const std::string& clientId, const std::string& host)
{
    ClientHostMap& map = Hosts();
    std::lock_guard guard(map.lock);
    map.hosts[clientId] = host;
}

std::optional<std::string> FindClientHost(const std::string& clientId)
{
    ClientHostMap& map = Hosts();
    std::lock_guard guard(map.lock);
    auto found = map.hosts.find(clientId);
    if (found == map.hosts.end())
        return std::nullopt;
    return found->second;
}

void ResponseConnect(HttpRequest& request)
{
    bool required = IsPasswordRequired();
    if (required && !PasswordAccepted(request)) {
        WritePlistAnswer(request,
            PlistDocument(PlistAnswer(kResultFailedPassword, LookupText(kTextFailedPassword))
                              .Add("password", "")
                              .Body()));
        TraceMessage(kTraceRequest, "ResponseConnect: ('%s')", request.Uri().c_str());
        return;
    }
    std::string id;
    int result = kResultOk;
    if (MakeGUID(id)) {
        TraceMessage(kTraceProgress, "MakeGUID (%s)", id.c_str());
    } else {
        TraceMessage(kTraceStreamFailure, " [[ MakeGUID ]] ");
        result = kResultFailedCreateId;
    }
    if (required && result == kResultOk) {
        // A browser keeps the id in a cookie that its scripts cannot read.
        request.Write("HTTP/1.1 200 OK\r\n");
        request.Write(ClientIdCookieHeader(id));
        request.Write("Content-Type: text/xml\r\n\r\n");
    } else {
        WriteAnswerHeader(request);
    }
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
