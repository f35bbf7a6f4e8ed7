#pragma once

// The settings files as the desktop program starts: before it makes its server it
// tells the user what the settings store found wrong with them (config/
// settings_store.h). A damaged file that the last good copy replaced is told in a
// message box; one with no good copy is told in a box that offers fresh settings.

#include "ui_seams.h"

class SettingsStore;
class TextTable;

// False when a damaged file has no good copy and the user declines fresh settings:
// the program then ends, leaving the file where it is.
bool ConfirmSettingsFiles(SettingsStore& settings, TextTable& texts, const UiSeams& seams);
