#pragma once

// Shared set-up of the HTTP library for every server this process runs (the web
// server and the embedded console). Internal to server/http.

struct mg_callbacks;
struct mg_context;

// Initialises the library once per process, before the first context starts.
void EnsureCivetLibrary();

// Callbacks that every context uses: the library's own messages go to the trace log
// instead of standard error.
void SetCommonCallbacks(mg_callbacks& callbacks);

// mg_stop, without the library's wait: its master thread only sees the stop flag when
// its poll on the listening socket returns, which takes up to two seconds unless a
// connection arrives. A helper knocks on the loopback port until the stop is done.
void StopCivetContext(mg_context* context, int port);
