#pragma once

// The settings store: key/value settings in "VembaCast.ini" and the shared folder
// list in "VembaCastFolder.ini", both in the data folder. There is no in-memory
// copy: every read goes to the file and every write straight to it, so a value
// written anywhere is seen by the next read anywhere.

#include <string>
#include <utility>
#include <vector>

inline constexpr const char* kSettingSection = "Setting";
inline constexpr const char* kSettingsFileName = "VembaCast.ini";
inline constexpr const char* kFolderListFileName = "VembaCastFolder.ini";
inline constexpr size_t kMaxSettingText = 259; // longer text values are cut on reading

std::string GetSettingsFilePath();
std::string GetFolderListFilePath();

// 0 when the settings file does not exist (whatever the default); otherwise the
// leading decimal digits of the value, or def when the key is missing.
int GetSettingInt(const std::string& section, const std::string& key, int def);

// fileName empty means the settings file, otherwise a file of that name in the data
// folder. Empty text when that file does not exist; def when the key is missing;
// at most kMaxSettingText characters.
std::string GetSettingString(const std::string& key, const std::string& def = "",
    const std::string& section = kSettingSection, const std::string& fileName = "");

// Section "Setting" of the settings file, written as unsigned decimal.
bool SetSettingInt(const std::string& key, unsigned value);

// Writes into the settings file (fileName empty) or a file in the data folder.
// The file is created if missing; the data folder must exist.
bool SetSettingString(const std::string& fileName, const std::string& section,
    const std::string& key, const std::string& value);

// The project version with blanks removed and commas turned into dots ("1.1.0.0").
std::string GetFileVersionText();

enum class StartupShortcut { Off, On };
// On writes the XDG autostart entry "Vemba Cast.desktop" for the running
// executable; Off removes it when it exists and leaves the folder untouched otherwise.
void SetStartupShortcut(StartupShortcut state);

// One shared folder as stored in the folder list file: "name|path".
struct FolderListEntry {
    std::string displayName;
    std::string path;
};
// Reads keys "path0", "path1", ... of section "Folder" up to the first missing or
// empty one; each value splits at its first '|'.
std::vector<FolderListEntry> LoadFolderListFile();
// Writes exactly these entries as path0..path(n-1); keys of removed entries vanish.
bool SaveFolderListFile(const std::vector<FolderListEntry>& entries);

// Path helpers shared by every part of the server.
bool FileExists(const std::string& path);
enum class CreateIfMissing { No, Yes };
bool EnsureFolder(const std::string& path, CreateIfMissing create);
bool CreateFolderPath(const std::string& path); // every missing parent too; always true
bool DeleteFolderTree(const std::string& path);
std::string GetFileNameOf(const std::string& path);
std::string GetFolderOf(const std::string& path);
std::string GetFileTitleOf(const std::string& path);
std::string GetExtensionOf(const std::string& path);
