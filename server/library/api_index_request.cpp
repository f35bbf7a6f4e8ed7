// "/api/v1" itself and every path below "/api/" that names no request: the version
// and the requests of the API, or a JSON 404, so a browser's script always reads JSON.

#include "http/api_answer.h"
#include "http/json_writer.h"
#include "http/request.h"
#include "library/request_handlers.h"

void OnNotifyApiVersion(LibraryContext& server, HttpRequest& request)
{
    (void)server;
    HandlerTrace trace("OnNotifyApiVersion", request.QueryString());
    JsonWriter json;
    json.BeginObject().Key("version").Int(1).Key("documentation").String("docs/api.md").End();
    WriteApiAnswer(request, json.Text());
}

void OnNotifyApiUnknown(LibraryContext& server, HttpRequest& request)
{
    (void)server;
    HandlerTrace trace("OnNotifyApiUnknown", request.Uri());
    WriteApiError(request, 404, "There is no such request in this API.");
}
