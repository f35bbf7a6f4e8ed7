#include "skin/qt/message_box.h"

#include "skin/qt/frame_binding.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace veneta {

namespace {

    MessageBoxTexts& Texts()
    {
        static MessageBoxTexts texts;
        return texts;
    }

    struct ButtonChoice {
        QMessageBox::ButtonRole role;
        int code;
        QString text;
    };

    std::vector<ButtonChoice> ButtonsOf(MessageButtons buttons)
    {
        const MessageBoxTexts& texts = Texts();
        switch (buttons) {
        case MessageButtons::YesNo:
            return { { QMessageBox::YesRole, kButtonYes, texts.yes },
                { QMessageBox::NoRole, kButtonNo, texts.no } };
        case MessageButtons::OkCancel:
            return { { QMessageBox::AcceptRole, kButtonOk, texts.ok },
                { QMessageBox::RejectRole, kButtonCancel, texts.cancel } };
        case MessageButtons::Ok:
            break;
        }
        return { { QMessageBox::AcceptRole, kButtonOk, texts.ok } };
    }

} // namespace

void SetMessageBoxTexts(const MessageBoxTexts& texts)
{
    Texts() = texts;
}

const MessageBoxTexts& GetMessageBoxTexts()
{
    return Texts();
}

int CPXMessageBox::Show(QWidget* parent, const QString& text, MessageButtons buttons)
{
    QMessageBox box(parent);
    box.setWindowTitle(Texts().caption);
    box.setText(text);
    box.setIcon(
        buttons == MessageButtons::YesNo ? QMessageBox::Question : QMessageBox::Information);
    std::vector<std::pair<QAbstractButton*, int>> codes;
    for (const ButtonChoice& choice : ButtonsOf(buttons))
        codes.emplace_back(box.addButton(choice.text, choice.role), choice.code);
    box.setDefaultButton(static_cast<QPushButton*>(codes.front().first));

    bool closedByRegistry = false;
    QPointer<QMessageBox> guard(&box);
    CFrameBinding binding(
        kFrameMessageBox, [&](MessageId message, WParam wParam, LParam) -> LResult {
            if (message == kWmCommand && wParam == veneta::kIdCancel && guard) {
                closedByRegistry = true;
                guard->done(QDialog::Rejected);
            }
            return 0;
        });
    box.exec();
    if (closedByRegistry || !box.clickedButton())
        return kButtonCancel;
    for (const auto& [button, code] : codes) {
        if (button == box.clickedButton())
            return code;
    }
    return kButtonCancel;
}

} // namespace veneta
