#pragma once

// The rules a shared folder must meet before it is added or changed: an existing
// folder, a usable display name, and (when adding) no clash with a row already listed.

#include "config/settings.h"

#include <string>
#include <vector>

enum class FolderDialogMode { Add, Edit };

struct FolderCheck {
    const char* errorKey = nullptr; // the message to show; nullptr when the entry is good
    std::string name; // the display name, filled from the folder when it was empty
    std::string path; // trimmed
    bool nameFilled = false;
};

FolderCheck CheckSharedFolder(const std::string& name, const std::string& path,
    FolderDialogMode mode, const std::vector<FolderListEntry>& rows);

// The name a folder gets when none is given: its last part up to its last ".".
std::string DefaultShareName(const std::string& path);

// True when "Services/<name>" is a sub-folder of the services folder, so the
// folder of a removed share may be deleted.
bool IsSafeServicesSubfolder(const std::string& name);
