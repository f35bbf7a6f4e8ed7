#include "http/civet_support.h"

#include "config/trace.h"

#include <civetweb.h>
#include <mutex>

namespace {

int LogMessage(const mg_connection*, const char* message)
{
    TraceMessage(kTraceWebFailure, "Web Server - %s", message ? message : "");
    return 1;
}

} // namespace

void EnsureCivetLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mg_init_library(0); });
}

void SetCommonCallbacks(mg_callbacks& callbacks)
{
    callbacks.log_message = LogMessage;
}
