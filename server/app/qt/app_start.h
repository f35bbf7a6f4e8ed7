#pragma once

// The start of the desktop program: one copy per data folder, one server object per
// data folder (its parts made from that folder), then the main window over that
// server until the exit command.

class QApplication;

// A UTF-8 character type for file names, before Qt reads the locale.
void PrepareLocale();

// Exit code 0 when a copy already ran and was asked to show itself.
int RunDesktopApplication(QApplication& application);
