#include "core/session_hooks.h"

#include "core/core_controller.h"
#include "core/engine_notices.h"
#include "library/shared_folders.h"
#include "streaming/session_list.h"

void AddSessionHooks(CoreHooks& hooks)
{
    hooks.registerSharedFolder
        = [](const FolderListEntry& entry) { AddSharedFolder(entry.path, entry.displayName); };
    hooks.engineNotice = HandleEngineNotice;
    hooks.server.releaseSessions = [] { QZ_FreeClientInfoList(); };
    hooks.endSessions = [] { QZ_FreeClientInfoList(); };
}
