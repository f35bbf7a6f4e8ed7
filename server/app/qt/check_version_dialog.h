#pragma once

// The update dialog: the installed and the offered version and a link to the
// download page.

#include "ui_seams.h"

#include <QDialog>

class QPushButton;
class TextTable;

class CCheckVerDlg : public QDialog {
    Q_OBJECT
public:
    CCheckVerDlg(const QString& localVersion, const QString& serverVersion, const QString& link,
        const TextTable& texts, const UiSeams& seams, QWidget* parent);
    QPushButton* LinkButton() const { return m_link; }

private:
    QPushButton* m_link;
};
