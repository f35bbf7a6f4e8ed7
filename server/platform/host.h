#pragma once

#include <string>

// The computer's host name, or empty text when the system gives none.
std::string GetHostName();
