#include "check_version_dialog.h"

#include "ui_texts.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CCheckVerDlg::CCheckVerDlg(const QString& localVersion, const QString& serverVersion,
    const QString& link, const TextTable& texts, const UiSeams& seams, QWidget* parent)
    : QDialog(parent)
    , m_link(new QPushButton(UiText(texts, "IDS_WORD_DOWNSITE_LINK"), this))
{
    setObjectName(QStringLiteral("checkVersionDialog"));
    setWindowTitle(UiText(texts, "IDS_WORD_CHECK_UPDATE"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(UiText(texts, "IDS_WORD_CHECKING_NEWVERSION"), this));
    layout->addWidget(new QLabel(
        UiText(texts, "IDS_WORD_LOCALVERSION") + QStringLiteral(" : ") + localVersion, this));
    layout->addWidget(new QLabel(
        UiText(texts, "IDS_WORD_SERVERVERSION") + QStringLiteral(" : ") + serverVersion, this));
    layout->addWidget(new QLabel(UiText(texts, "IDS_WORD_NEWVERSION_AVAILABLE"), this));
    m_link->setFlat(true);
    m_link->setCursor(Qt::PointingHandCursor);
    m_link->setStyleSheet(QStringLiteral("color: palette(link); text-decoration: underline;"));
    layout->addWidget(m_link, 0, Qt::AlignLeft);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(UiText(texts, "IDS_WORD_COMMON_OK"), QDialogButtonBox::AcceptRole);
    layout->addWidget(buttons);
    connect(m_link, &QPushButton::clicked, this, [&seams, link] { seams.openAddress(link); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}
