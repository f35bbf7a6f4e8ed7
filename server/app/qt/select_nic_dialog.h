#pragma once

// The adapter choice: one line per network adapter, "address : name".

#include "platform/adapters.h"

#include <QDialog>
#include <vector>

class QComboBox;
class TextTable;

class CSelectNICDlg : public QDialog {
    Q_OBJECT
public:
    CSelectNICDlg(const std::vector<Adapter>& adapters, int selected, const TextTable& texts,
        QWidget* parent);
    int Selected() const;
    QComboBox* List() const { return m_list; }

private:
    QComboBox* m_list;
};
