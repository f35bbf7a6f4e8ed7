#pragma once

// The shared-folder dialog: a folder and the name it is shared under, checked by the
// rules of shared_folder_rules.h before the dialog closes with OK.

#include "shared_folder_rules.h"
#include "ui_seams.h"

#include <QDialog>

class QLineEdit;
class TextTable;
class QPushButton;

class CSetPathDlg : public QDialog {
    Q_OBJECT
public:
    // rows are the folder list's rows, for the duplicate checks of the add mode.
    CSetPathDlg(FolderDialogMode mode, std::vector<FolderListEntry> rows, const TextTable& texts,
        const UiSeams& seams, QWidget* parent);

    void SetEntry(const QString& name, const QString& path);
    QString DisplayName() const;
    QString FolderPath() const;

    QLineEdit* PathField() const { return m_path; }
    QLineEdit* NameField() const { return m_name; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* BrowseButton() const { return m_browse; }

private:
    void Browse();
    void TryAccept();

    FolderDialogMode m_mode;
    std::vector<FolderListEntry> m_rows;
    const TextTable& m_texts;
    const UiSeams& m_seams;
    QLineEdit* m_path;
    QLineEdit* m_name;
    QPushButton* m_browse;
    QPushButton* m_ok;
};
