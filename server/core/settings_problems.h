#pragma once

// What the program around the server tells the user about settings files that did
// not read back whole (config/settings_store.h): the daemon prints it, the desktop
// application shows it in a message box.

#include "config/settings_store.h"
#include "config/texts.h"

#include <string>

// The text of textKey with the file, what was wrong with it and, where the text has
// a third place for it, where the damaged file went.
std::string DescribeSettingsProblem(
    const TextTable& texts, const char* textKey, const SettingsFileProblem& problem);

// The text key of a file the last good copy replaced ("IDS_SETTINGS_FILE_RESTORED").
inline constexpr const char* kTextSettingsRestored = "IDS_SETTINGS_FILE_RESTORED";
