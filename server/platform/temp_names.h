#pragma once

// Temporary list files: "fil" followed by 32 random upper-case hexadecimal digits and
// ".tmp", created empty and exclusively so that no two answers share one. The names
// cannot be guessed, so no client can fetch a listing made for another.

#include <string>

inline constexpr size_t kTempListRandomDigits = 32;

// Creates a new empty file of that form in folder and returns its full path, or
// empty text when none could be created (folder missing, no randomness).
std::string CreateTempListFile(const std::string& folder);

// True when name (a bare file name) has exactly that form.
bool IsTempListFileName(const std::string& name);
