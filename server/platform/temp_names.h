#pragma once

// Temporary list files: "fil" followed by 1 to 4 upper-case hexadecimal digits and
// ".tmp", created empty and exclusively so that no two answers share one.

#include <string>

// Creates a new empty file of that form in folder and returns its full path, or
// empty text when none could be created (folder missing, all names taken).
std::string CreateTempListFile(const std::string& folder);

// True when name (a bare file name) has exactly that form.
bool IsTempListFileName(const std::string& name);
