#include "core/library_hooks.h"

#include "core/core_controller.h"
#include "library/thumbnail.h"
#include "library/thumbnail_kickoff.h"

void AddLibraryHooks(CoreHooks& hooks)
{
    // Returns at once: the collecting and the making run in the background, so the
    // start worker can report the running server without waiting for pictures.
    hooks.startThumbnails = [] { QZ_StartShareThumbnails(); };
    hooks.stopThumbnailPool = [] {
        QZ_StopThumbnailThreads();
        ReapShareThumbnailKickOff();
    };
}
