#pragma once

// One settings file ("VembaCast.ini", "VembaCastFolder.ini") as the server writes it
// and reads it back. Every write seals the file: a first line saying it is sealed, the
// settings, and the section [End] with "Complete=1" closing it. A file cut short
// anywhere (a disk that filled under another tool, a copy broken off, a damaged file
// system) then lacks its end and is told from a whole one, instead of reading as
// fewer settings, each missing one at its default.
//
// Files written before files were sealed have no first line of that kind; they are
// taken when every line of them parses, so existing settings survive the upgrade.
// Random bytes, a cut that leaves a partial line or only part of the first line,
// and an empty file do not read back whole.

#include "platform/ini_file.h"

#include <optional>
#include <string>

// The first line of a sealed file, and where the seal closes it.
inline constexpr const char* kSealedFileFirstLine
    = "; Written whole by VembaCast: the section [End] closes this file.";
inline constexpr const char* kSealSection = "End";
inline constexpr const char* kSealKey = "Complete";

struct SettingsFileCheck {
    bool whole = false;
    std::optional<ini::IniDocument> document; // when whole: the settings, without the seal
    std::string problem; // when not: what is wrong, for people to read
};

// Whether data (a whole file's bytes) reads back whole.
SettingsFileCheck CheckSettingsText(const std::string& data);

// The file's bytes for document: sealed, whatever seal document carried before.
std::string SealSettingsText(const ini::IniDocument& document);
