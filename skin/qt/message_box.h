#pragma once

// The skinned message box: a modal box with the program's caption and button texts.
// While it is open it is window index 1, so any thread can close it by sending it
// WM_COMMAND IDCANCEL (the start/stop command does, before showing its progress box).

#include <QString>

class QWidget;

namespace veneta {

struct MessageBoxTexts {
    QString caption = QStringLiteral("Message");
    QString ok = QStringLiteral("OK");
    QString cancel = QStringLiteral("Cancel");
    QString retry = QStringLiteral("Retry");
    QString yes = QStringLiteral("Yes");
    QString no = QStringLiteral("No");
};

// Set once at start from the language texts.
void SetMessageBoxTexts(const MessageBoxTexts& texts);
const MessageBoxTexts& GetMessageBoxTexts();

// The buttons' result codes are the desktop system's (IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7).
enum class MessageButtons { Ok, YesNo, OkCancel };
inline constexpr int kButtonOk = 1;
inline constexpr int kButtonCancel = 2;
inline constexpr int kButtonYes = 6;
inline constexpr int kButtonNo = 7;

class CPXMessageBox {
public:
    // Shows text modally over parent and returns the code of the button pressed;
    // closing through the registry gives kButtonCancel.
    static int Show(
        QWidget* parent, const QString& text, MessageButtons buttons = MessageButtons::Ok);
};

} // namespace veneta
