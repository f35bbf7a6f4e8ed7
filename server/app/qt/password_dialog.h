#pragma once

// The password dialog: a masked field that takes 1 to 4 decimal digits. Keys other
// than digits and editing keys are refused with the format message, and whatever
// reaches the field some other way (a paste) is checked after every change.

#include "ui_seams.h"

class TextTable;

#include <QDialog>

class QLineEdit;
class QPushButton;

inline constexpr int kPasswordMaxDigits = 4;

class CSetPasswordDialog : public QDialog {
    Q_OBJECT
public:
    CSetPasswordDialog(
        const QString& current, const TextTable& texts, const UiSeams& seams, QWidget* parent);

    QString Password() const;
    QLineEdit* Field() const { return m_field; }
    QPushButton* SetButton() const { return m_set; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CheckField(const QString& text);
    void TrySet();
    void ShowFormatInfo();

    const TextTable& m_texts;
    const UiSeams& m_seams;
    QLineEdit* m_field;
    QPushButton* m_set;
};
