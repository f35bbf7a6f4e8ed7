#pragma once

// The start of the desktop program: one copy per data folder, one server per data
// folder, the language texts, then the main window until the exit command.

class QApplication;

// A UTF-8 character type for file names, before Qt reads the locale.
void PrepareLocale();

// Exit code 0 when a copy already ran and was asked to show itself.
int RunDesktopApplication(QApplication& application);
