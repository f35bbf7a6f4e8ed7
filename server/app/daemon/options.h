#pragma once

// The daemon's command line. Everything is checked before anything is written, so a
// malformed option leaves every file as it was.

#include "config/settings.h"

#include <optional>
#include <string>
#include <vector>

struct DaemonOptions {
    std::string dataDir; // empty: the usual data folder
    std::optional<int> port;
    std::vector<FolderListEntry> shares;
    std::optional<std::string> password;
    bool requirePassword = false; // --require-password: the server checks the password
    std::optional<bool> portMapping; // --port-mapping on|off
    std::optional<bool> pinMode; // --pin on|off
    std::optional<bool> dlnaServer; // --dlna on|off: the television device (kept)
    std::optional<std::string> adapter; // an interface name or its address
    std::optional<std::string> console; // the console's root address, "" for the embedded
    // --allow-host NAME and --trust-proxy ADDR, each repeatable: given ones replace the
    // stored settings "AllowedHosts" and "TrustedProxies".
    std::vector<std::string> allowedHosts;
    std::vector<std::string> trustedProxies;
    // The HTTPS port and its files (absolute paths); a port of 0 switches HTTPS off.
    std::optional<int> tlsPort;
    std::optional<std::string> tlsCert;
    std::optional<std::string> tlsKey;
    std::optional<int> hstsMaxAge; // --hsts SECONDS, 0 for none
    std::optional<std::string> basePath; // "" for none
    std::optional<bool> allowServerOff; // --server-off on|off
    std::string sharesFile; // --shares-file: the shares, read at every start
    bool help = false;
    bool version = false;

    // Shares (given or from a shares file), a port or a password make the daemon write
    // the settings as the settings dialog would.
    bool WritesSettings() const
    {
        return port || !shares.empty() || !sharesFile.empty() || password || requirePassword;
    }
};

// False with a one-line reason in error for a malformed command line.
bool ParseDaemonOptions(int argc, char** argv, DaemonOptions& options, std::string& error);

// The --help text.
const char* DaemonUsage();

// The options of the HTTPS port, the base path, the power button and the shares file;
// known says whether argv[i] is one of them (web_options.cpp).
bool ParseWebOption(
    int argc, char** argv, int& i, DaemonOptions& options, bool& known, std::string& error);

class SettingsStore;
// Writes what the options of ParseWebOption set (not the shares file's shares).
void WriteWebOptions(SettingsStore& settings, const DaemonOptions& options);

// "--name value" or "--name=value"; advances index past what it used.
bool TakeOptionValue(int argc, char** argv, int& index, const std::string& name, std::string& value,
    std::string& error);
bool IsOption(const std::string& argument, const std::string& name);
// "on" or "off" for the option name; false with error set for anything else.
bool ParseSwitch(const std::string& name, const std::string& text, std::optional<bool>& value,
    std::string& error);

// A share "NAME=PATH" as --share takes it; with FolderCheck::Exists the path must be a
// folder, with FolderCheck::Absolute only absolute (a share the service cannot read yet
// is named at the start, not refused).
enum class FolderCheck { Exists, Absolute };
bool ParseShareEntry(const std::string& text, const std::vector<FolderListEntry>& earlier,
    FolderListEntry& share, FolderCheck check, std::string& error);
