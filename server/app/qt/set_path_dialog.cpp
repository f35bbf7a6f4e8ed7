#include "set_path_dialog.h"

#include "ui_texts.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

CSetPathDlg::CSetPathDlg(FolderDialogMode mode, std::vector<FolderListEntry> rows,
    const TextTable& texts, const UiSeams& seams, QWidget* parent)
    : QDialog(parent)
    , m_mode(mode)
    , m_rows(std::move(rows))
    , m_texts(texts)
    , m_seams(seams)
    , m_path(new QLineEdit(this))
    , m_name(new QLineEdit(this))
    , m_browse(new QPushButton(this))
{
    setObjectName(QStringLiteral("setPathDialog"));
    setWindowTitle(UiText(
        m_texts, mode == FolderDialogMode::Add ? "IDS_WORD_ADDFOLDER_DLG" : "IDS_WORD_BTN_EDIT"));
    m_browse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    m_browse->setObjectName(QStringLiteral("browse"));
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(m_browse);
    auto* form = new QFormLayout;
    form->addRow(UiText(m_texts, "IDS_WORD_SELECTFOLDER"), pathRow);
    form->addRow(UiText(m_texts, "IDS_WORD_NAME"), m_name);
    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(UiText(m_texts, "IDS_WORD_COMMON_OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(UiText(m_texts, "IDS_WORD_COMMON_CANCEL"), QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(460);
    connect(m_browse, &QPushButton::clicked, this, &CSetPathDlg::Browse);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSetPathDlg::TryAccept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CSetPathDlg::SetEntry(const QString& name, const QString& path)
{
    m_name->setText(name);
    m_path->setText(path);
}

QString CSetPathDlg::DisplayName() const
{
    return m_name->text();
}

QString CSetPathDlg::FolderPath() const
{
    return m_path->text();
}

void CSetPathDlg::Browse()
{
    QString chosen = m_seams.chooseFolder(this, QDir::currentPath());
    if (chosen.isEmpty())
        return;
    m_path->setText(chosen);
    m_name->setText(chosen.section('/', -1, -1, QString::SectionSkipEmpty));
}

void CSetPathDlg::TryAccept()
{
    FolderCheck check
        = CheckSharedFolder(ToUtf8(m_name->text()), ToUtf8(m_path->text()), m_mode, m_rows);
    if (check.nameFilled)
        m_name->setText(FromUtf8(check.name));
    if (check.errorKey) {
        ShowOkMessage(m_seams, this, UiText(m_texts, check.errorKey));
        return;
    }
    m_name->setText(FromUtf8(check.name));
    m_path->setText(FromUtf8(check.path));
    accept();
}
