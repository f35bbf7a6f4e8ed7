#pragma once

// The names and defaults of the settings: key/value settings in "VembaCast.ini" and
// the shared folder list in "VembaCastFolder.ini", both in the data folder. A server
// reads and writes them through its settings store (settings_store.h).

#include <string>
#include <utility>
#include <vector>

inline constexpr const char* kSettingSection = "Setting";
inline constexpr const char* kSettingsFileName = "VembaCast.ini";
inline constexpr const char* kFolderListFileName = "VembaCastFolder.ini";
inline constexpr size_t kMaxSettingText = 259; // longer text values are cut on reading

// Keys of section "Setting" and what a read gives when the file exists but the key
// does not.
inline constexpr const char* kKeySet = "SET"; // 1 once the server has been set up
inline constexpr const char* kKeyInIP = "InIP";
inline constexpr const char* kKeyInPort = "InPort";
inline constexpr const char* kKeyExtIP = "ExtIP";
inline constexpr const char* kKeyExtPort = "ExtPort";
inline constexpr const char* kKeyMacAddress = "MACA";
inline constexpr const char* kKeyPCName = "PCName";
inline constexpr const char* kKeyPINCode = "PINCode";
inline constexpr const char* kKeyPINCodeMode = "PINCodeMode";
inline constexpr const char* kKeyPassword = "Password";
inline constexpr const char* kKeyPasswordMode = "PasswordMode";
inline constexpr const char* kKeyAutoStart = "AutoStart";
inline constexpr const char* kKeyAutoPortMapMode = "AutoPortMapMode";
inline constexpr const char* kKeyFixedBandwidth = "FixedBandwidth";
inline constexpr const char* kKeyMaxLiveClient = "MaxLIveClient"; // spelt so in existing files
inline constexpr const char* kKeyGeneralLanguage = "General_language";
inline constexpr const char* kKeyErrLang = "ErrLANG";
inline constexpr const char* kKeyHelpURL = "HelpURL";
inline constexpr const char* kKeyTestServerURL = "TestSeverURL";
inline constexpr const char* kKeyTestServerURLPin = "TestSeverURL_PIN";
inline constexpr const char* kKeyTestServerURLInfo = "TestSeverURL_INFO";
inline constexpr const char* kKeyTestServerURLUpdate = "TestSeverURL_UPDATE";
// 0: "/serverOff" is refused from everywhere; otherwise it works from the home network.
inline constexpr const char* kKeyAllowServerOff = "AllowServerOff";

inline constexpr int kDefaultSet = 0;
inline constexpr const char* kDefaultInIP = "";
inline constexpr const char* kDefaultInPort = "";
inline constexpr const char* kDefaultExtIP = "";
inline constexpr const char* kDefaultExtPort = "";
inline constexpr const char* kDefaultMacAddress = "";
inline constexpr const char* kDefaultPCName = "";
inline constexpr const char* kDefaultPINCode = "";
inline constexpr int kDefaultPINCodeMode = 0;
inline constexpr const char* kDefaultPassword = "";
inline constexpr int kDefaultPasswordMode = 0;
inline constexpr int kDefaultAutoStart = 0;
inline constexpr int kDefaultAutoPortMapMode = 0;
inline constexpr int kDefaultFixedBandwidth = 1; // 1 or more: one fixed bandwidth
inline constexpr int kDefaultMaxLiveClient = 4;
inline constexpr const char* kDefaultGeneralLanguage = "kor"; // an empty value counts as this
inline constexpr const char* kDefaultErrLang = "en";
inline constexpr const char* kDefaultHelpURL = "https://www.vembacast.com/help";
inline constexpr const char* kDefaultTestServerURL = ""; // empty: the built-in console address
inline constexpr const char* kDefaultTestServerURLPin = "";
inline constexpr const char* kDefaultTestServerURLInfo = "";
inline constexpr const char* kDefaultTestServerURLUpdate = "";
inline constexpr int kDefaultAllowServerOff = 1;

// The default port of the server and the range searched when it is taken.
inline constexpr int kDefaultServerPort = 47002;
inline constexpr int kLastSearchedPort = 47555;

// Section "Subtitle" (read only) and its defaults.
inline constexpr const char* kSubtitleSection = "Subtitle";
inline constexpr const char* kKeySubtitleFont = "Font";
inline constexpr const char* kKeySubtitleSize = "Size";
inline constexpr const char* kKeySubtitleColor = "Color";
inline constexpr const char* kDefaultSubtitleFont = "arial";
inline constexpr const char* kDefaultOverlaySubtitleSize = "8.6"; // where the overlay font is made
inline constexpr const char* kDefaultStyleSubtitleSize = "18"; // where the subtitle style is made
inline constexpr const char* kDefaultSubtitleColor = "0xffffffff"; // ARGB

// Section "Debug" (read only): a test conversion entry of the conversion window.
inline constexpr const char* kDebugSection = "Debug";
inline constexpr const char* kKeyDebugID = "ID";
inline constexpr const char* kKeyDebugOrgPath = "OrgPath";
inline constexpr const char* kKeyDebugTarPath = "TarPath";

// The folder list file: section "Folder", keys "path0", "path1", ...
inline constexpr const char* kFolderSection = "Folder";

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
