#pragma once

// The places the program keeps its files in. None of the returned paths ends in '/'.
//
// The functions that read the environment are for start-up only: the program resolves
// its places once (ResolvePlaces) and hands them to the server, so nothing that runs
// later depends on the environment.

#include <string>

// Where one server keeps its files.
struct ServerPlaces {
    std::string programFolder; // the executables and their libraries
    std::string resourceFolder; // language files, skin, web/
    std::string dataFolder; // settings, caches and the services folder
    std::string runtimeFolder; // private sockets (engine pipes); empty when there is none
    std::string tempFolder; // scratch files of one job ($TMPDIR, else /tmp)

    // dataFolder + "/Services": session work folders, thumbnails, list files.
    std::string ServicesFolder() const;
};

// The places of this program; dataFolder empty means GetDataFolder().
ServerPlaces ResolvePlaces(const std::string& dataFolder = std::string());

// Folder of the running executable (/proc/self/exe): language files, res/, trace files.
std::string GetProgramFolder();

// The read-only resources (language files, skin, web/): "res" beside the program in a
// build, else "share/vembacast/res" of the installation the program folder belongs to
// (reached from the program folder lib/vembacast by the path the build names).
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
