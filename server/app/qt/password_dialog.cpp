#include "password_dialog.h"

#include "ui_texts.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

bool IsAllowedKey(const QKeyEvent& key)
{
    if (key.matches(QKeySequence::Paste))
        return true; // what a paste brings is checked after the change
    switch (key.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Delete:
        return true;
    default:
        // Digits of the main keys and of the keypad alike.
        return key.key() >= Qt::Key_0 && key.key() <= Qt::Key_9
            && !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    }
}

bool IsAllDigits(const QString& text)
{
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

CSetPasswordDialog::CSetPasswordDialog(
    const QString& current, const TextTable& texts, const UiSeams& seams, QWidget* parent)
    : QDialog(parent)
    , m_texts(texts)
    , m_seams(seams)
    , m_field(new QLineEdit(current, this))
{
    setObjectName(QStringLiteral("passwordDialog"));
    setWindowTitle(UiText(m_texts, "IDS_WORD_SET_PASSWORD"));
    m_field->setObjectName(QStringLiteral("password"));
    m_field->setEchoMode(QLineEdit::Password);
    m_field->installEventFilter(this);
    auto* form = new QFormLayout;
    form->addRow(UiText(m_texts, "IDS_WORD_NEW_PASSWORD") + QStringLiteral(" :"), m_field);
    auto* buttons = new QDialogButtonBox(this);
    m_set
        = buttons->addButton(UiText(m_texts, "IDS_WORD_COMMON_SET"), QDialogButtonBox::AcceptRole);
    m_set->setAutoDefault(false);
    QPushButton* cancel = buttons->addButton(
        UiText(m_texts, "IDS_WORD_COMMON_CANCEL"), QDialogButtonBox::RejectRole);
    cancel->setAutoDefault(false);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    connect(m_field, &QLineEdit::textChanged, this, &CSetPasswordDialog::CheckField);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSetPasswordDialog::TrySet);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString CSetPasswordDialog::Password() const
{
    return m_field->text();
}

bool CSetPasswordDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        if (!IsAllowedKey(*static_cast<QKeyEvent*>(event))) {
            // Enter and Escape too: neither confirms nor closes from the field.
            ShowFormatInfo();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CSetPasswordDialog::CheckField(const QString& text)
{
    if (!IsAllDigits(text)) {
        m_field->clear();
        ShowFormatInfo();
    } else if (text.size() > kPasswordMaxDigits) {
        ShowFormatInfo();
        m_field->setText(text.left(kPasswordMaxDigits));
    }
}

void CSetPasswordDialog::TrySet()
{
    if (m_field->text().isEmpty()) {
        ShowOkMessage(m_seams, this, UiText(m_texts, "IDS_WORD_PASSWORD_FORMAT_INFO2"));
        return;
    }
    accept();
}

void CSetPasswordDialog::ShowFormatInfo()
{
    ShowOkMessage(m_seams, this, UiText(m_texts, "IDS_WORD_PASSWORD_FORMAT_INFO"));
}
