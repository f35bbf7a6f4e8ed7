#pragma once

// What the windows ask of the desktop around them: modal message boxes and dialogs,
// the folder chooser and opening an address. The program uses the real ones; tests
// put their own in to answer a box or to drive a dialog through its controls.

#include "skin/qt/message_box.h"

#include <QString>
#include <functional>

class QDialog;
class QWidget;

struct UiSeams {
    // Shows a message box and returns the code of its button (veneta::kButtonOk ...).
    std::function<int(QWidget* parent, const QString& text, veneta::MessageButtons buttons)>
        showMessage;
    // Runs a dialog modally; returns its result (QDialog::Accepted or Rejected).
    std::function<int(QDialog& dialog)> runDialog;
    // The folder chooser; empty when cancelled.
    std::function<QString(QWidget* parent, const QString& start)> chooseFolder;
    // Opens a web address or a folder in the desktop's own program.
    std::function<void(const QString& address)> openAddress;
};

// The real desktop.
UiSeams DesktopSeams();

// An OK message box through seams.
inline void ShowOkMessage(const UiSeams& seams, QWidget* parent, const QString& text)
{
    seams.showMessage(parent, text, veneta::MessageButtons::Ok);
}
