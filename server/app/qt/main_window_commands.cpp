// The main window's folder and settings commands.

#include "check_version_dialog.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "main_window.h"
#include "platform/adapters.h"
#include "set_path_dialog.h"
#include "settings_dialog.h"
#include "skin/qt/image_button.h"
#include "ui_texts.h"

#include <QStackedWidget>
#include <QTreeWidget>

namespace {

FolderListEntry EntryOf(const QTreeWidgetItem& item)
{
    return { ToUtf8(item.text(0)), ToUtf8(item.text(1)) };
}

} // namespace

void CVembaCastDlg::LoadFolderRows()
{
    m_controller.LoadFolderList();
    for (const FolderListEntry& row : m_controller.Rows())
        new QTreeWidgetItem(m_list, { FromUtf8(row.displayName), FromUtf8(row.path) });
    RefreshFolderView();
}

void CVembaCastDlg::RefreshFolderView()
{
    m_listArea->setCurrentWidget(
        m_list->topLevelItemCount() > 0 ? static_cast<QWidget*>(m_list) : m_listArea->widget(0));
}

void CVembaCastDlg::SyncRows()
{
    std::vector<FolderListEntry> rows;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        rows.push_back(EntryOf(*m_list->topLevelItem(i)));
    m_controller.SetRows(std::move(rows));
    // Written at once, so a crash or a power cut loses no folder the user added.
    m_controller.SaveFolderList();
    RefreshFolderView();
}

void CVembaCastDlg::OnAddFolder()
{
    CSetPathDlg dialog(FolderDialogMode::Add, m_controller.Rows(), m_server.Texts(), m_seams, this);
    if (m_seams.runDialog(dialog) != QDialog::Accepted)
        return;
    FolderListEntry entry { ToUtf8(dialog.DisplayName()), ToUtf8(dialog.FolderPath()) };
    new QTreeWidgetItem(m_list, { dialog.DisplayName(), dialog.FolderPath() });
    m_server.SharedFolders().AddSharedFolder(entry.path, entry.displayName);
    SyncRows();
    // Returns at once: the pictures are made in the background.
    m_server.Thumbnails().QZ_StartShareThumbnails();
}

void CVembaCastDlg::OnEditFolder(QTreeWidgetItem* item)
{
    if (!item)
        return;
    FolderListEntry old = EntryOf(*item);
    CSetPathDlg dialog(
        FolderDialogMode::Edit, m_controller.Rows(), m_server.Texts(), m_seams, this);
    dialog.SetEntry(item->text(0), item->text(1));
    if (m_seams.runDialog(dialog) != QDialog::Accepted)
        return;
    item->setText(0, dialog.DisplayName());
    item->setText(1, dialog.FolderPath());
    m_server.SharedFolders().RemoveSharedFolder(old.displayName);
    m_server.SharedFolders().AddSharedFolder(
        ToUtf8(dialog.FolderPath()), ToUtf8(dialog.DisplayName()));
    SyncRows();
}

void CVembaCastDlg::OnOpenFolder(QTreeWidgetItem* item)
{
    if (item)
        m_seams.openAddress(item->text(1));
}

void CVembaCastDlg::OnDeleteFolders()
{
    std::vector<std::string> workFolders;
    const std::string services = m_server.Places().ServicesFolder();
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    for (QTreeWidgetItem* item : selected) {
        std::string name = ToUtf8(item->text(0));
        // A name from a hand-edited folder list could point outside the services folder.
        if (IsSafeServicesSubfolder(name))
            workFolders.push_back(services + "/" + name);
        m_server.SharedFolders().RemoveSharedFolder(name);
        delete item;
    }
    SyncRows();
    for (const std::string& folder : workFolders)
        DeleteFolderTree(folder);
}

void CVembaCastDlg::OnSettings()
{
    std::vector<Adapter> adapters = ListAdapters();
    if (adapters.empty())
        return;
    m_controller.FillSettingDefaults();
    bool wasRunning = m_controller.IsServerRunning();
    // The mapping's probe asks for the server from outside: it must be there to answer,
    // or the probe reports a router that does not let it through.
    const bool startedForProbe = !wasRunning && m_controller.StartForProbe();
    CSettingDialog dialog(adapters, m_consoleReachable, m_remote, m_seams, this);
    const int result = m_seams.runDialog(dialog);
    if (startedForProbe) {
        m_remote.WaitForMapping(); // a mapping started by the dialog still probes
        m_controller.StopAfterProbe();
    }
    if (result != QDialog::Accepted)
        return;
    m_server.Settings().WriteInt(kKeySet, 1);
    if (wasRunning)
        ShowOkMessage(m_seams, this, Text("IDS_WORD_RESTART_SETTINGAPPLY"));
    m_startStop->setEnabled(true);
}
