#pragma once

// The places the program keeps its files in. None of the returned paths ends in '/'.

#include <string>

// Folder of the running executable (/proc/self/exe): language files, res/, trace files.
std::string GetProgramFolder();

// The read-only resources (language files, skin, web/): "res" beside the program in a
// build, else "share/vembacast/res" of the installation the program folder belongs to.
std::string GetResourceFolder();

// $VEMBACAST_DATA_DIR when set, else $XDG_DATA_HOME/Vemba Family/Vemba Cast
// (XDG_DATA_HOME defaulting to ~/.local/share).
std::string GetDataFolder();

// GetDataFolder() + "/Services": session work folders, thumbnails, list files.
std::string GetServicesFolder();

// $XDG_CONFIG_HOME/autostart (default ~/.config/autostart).
std::string GetStartupFolder();

// Per-user runtime folder for sockets: $XDG_RUNTIME_DIR, else /tmp/vembacast-<uid>
// (created with mode 0700 when missing).
std::string GetRuntimeFolder();
