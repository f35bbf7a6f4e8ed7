#pragma once

// Shared set-up of the HTTP library for every server this process runs (the web
// server and the embedded console). Internal to server/http.

struct mg_callbacks;

// Initialises the library once per process, before the first context starts.
void EnsureCivetLibrary();

// Callbacks that every context uses: the library's own messages go to the trace log
// instead of standard error.
void SetCommonCallbacks(mg_callbacks& callbacks);
