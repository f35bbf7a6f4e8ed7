#include "select_nic_dialog.h"

#include "ui_texts.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CSelectNICDlg::CSelectNICDlg(
    const std::vector<Adapter>& adapters, int selected, const TextTable& texts, QWidget* parent)
    : QDialog(parent)
    , m_list(new QComboBox(this))
{
    setObjectName(QStringLiteral("selectNicDialog"));
    setWindowTitle(UiText(texts, "IDS_WORD_SELECT_NIC"));
    for (const Adapter& adapter : adapters)
        m_list->addItem(FromUtf8(adapter.address + " : " + adapter.description));
    if (selected >= 0 && selected < m_list->count())
        m_list->setCurrentIndex(selected);
    auto* hint = new QLabel(UiText(texts, "IDS_WORD_SELECT_NIC_INFO"), this);
    hint->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(UiText(texts, "IDS_WORD_COMMON_SET"), QDialogButtonBox::AcceptRole);
    buttons->addButton(UiText(texts, "IDS_WORD_COMMON_CANCEL"), QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    setMinimumWidth(360);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

int CSelectNICDlg::Selected() const
{
    return m_list->currentIndex();
}
