#pragma once

// What the core drives in the media library: thumbnail making for every shared
// folder after a successful server start, and the thumbnail pool's bounded wait at
// shutdown.

struct CoreHooks;

void AddLibraryHooks(CoreHooks& hooks);
