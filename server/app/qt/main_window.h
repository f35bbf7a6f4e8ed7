#pragma once

// The main window: the shared-folder list, the server's start and stop, the settings,
// help and conversion buttons, and the icon in the notification area it hides in.
//
// The window drives one server object through the core controller it owns; every
// setting, text, share and conversion it shows or changes is that server's.
//
// Threads: everything here runs on the GUI thread. The core controller's start/stop
// worker and its action thread (a client's power-off request), and the conversion
// queue's threads, call the ICoreView operations from their own threads; each of them
// is handed to the GUI thread before it touches a widget. Messages for the main window
// (window index 2) and its folder list (index 4) arrive through the window registry on
// the GUI thread.

#include "core/core_controller.h"
#include "remote_access.h"
#include "skin/qt/frame_binding.h"
#include "ui_seams.h"

#include <QWidget>
#include <memory>

class QLabel;
class QMenu;
class QStackedWidget;
class QSystemTrayIcon;
class QTreeWidget;
class QTreeWidgetItem;
class CConversionWindow;
namespace veneta {
class CPXImageButton;
class CPXProgressBox;
} // namespace veneta

// Command identifiers of the main window (the tray menu and start-up send some of them).
enum MainCommand : int {
    kCmdStartStop = 1000,
    kCmdDeleteFolder = 1002,
    kCmdAddFolder = 1003,
    kCmdConversion = 1008,
    kCmdSettings = 1009,
    kCmdHelp = 1010,
    kCmdExit = 57665,
};
// Mouse messages a tray notice carries in lParam.
inline constexpr veneta::LParam kTrayLeftButtonDown = 513;
inline constexpr veneta::LParam kTrayRightButtonDown = 516;

class CVembaCastDlg : public QWidget, public ICoreView {
    Q_OBJECT
public:
    // server outlives the window.
    CVembaCastDlg(
        CVembaServer& server, UiSeams seams, CoreHooks hooks = {}, QWidget* parent = nullptr);
    ~CVembaCastDlg() override;

    // Program start after the window exists: the start-up and update checks, then the
    // automatic start. The window is shown by the caller.
    void OnInitDialog();
    void OnLoad();
    // Runs one command as if its button or menu item had been used.
    void RunCommand(int command);
    // Exit after the question was answered with Yes, or at once: stops the server,
    // waits for it and ends the program's loop.
    void ExitProgram();

    CVembaServer& Server() { return m_server; }
    CCoreController& Controller() { return m_controller; }
    CRemoteAccess& Remote() { return m_remote; }
    CConversionWindow* ConversionWindow() const { return m_conversion; }
    QTreeWidget* FolderList() const { return m_list; }
    veneta::CPXImageButton* StartStopButton() const { return m_startStop; }
    veneta::CPXProgressBox* ProgressBox() const { return m_progress; }
    QLabel* StatusLine() const { return m_status; }
    QMenu* TrayMenu() const { return m_trayMenu; }
    bool IsTrayIconShown() const { return m_trayShown; }

    // ICoreView, from any thread.
    void ShowProgress(const char* textKey) override;
    void CloseProgress() override;
    void ServerStateChanged(bool running) override;
    void ShowServerError(int code, const char* textKey) override;
    void DismissMessages() override;
    void PumpMessages() override;
    void ServerShutDown(bool succeeded) override;
    void ConversionChanged(ConversionChange change, const ConvertInfo_t& job) override;

signals:
    void ServerStateShown(bool running);
    void ExitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void BuildTray();
    veneta::CPXImageButton* MakeButton(int command, const char* textKey, int image);
    void LoadFolderRows();
    void RefreshFolderView();
    void SyncRows();
    void OnAddFolder();
    void OnEditFolder(QTreeWidgetItem* item);
    void OnDeleteFolders();
    void OnOpenFolder(QTreeWidgetItem* item);
    void OnSettings();
    void OnExit();
    void OnTrayNotify(veneta::LParam mouse);
    void ShowFromTray();
    void HideToTray();
    void ShowServerState(bool running);
    void ReportShutdownFailure();
    veneta::LResult OnFrameMessage(
        veneta::MessageId message, veneta::WParam wParam, veneta::LParam lParam);
    veneta::LResult OnFolderListMessage(veneta::MessageId message);
    // Runs task on the GUI thread: at once when already there, else queued.
    void OnGui(std::function<void()> task);
    QString Text(const char* key) const;

    CVembaServer& m_server;
    CRemoteAccess m_remote;
    UiSeams m_seams;
    CCoreController m_controller;
    bool m_consoleReachable = true;
    QLabel* m_title = nullptr;
    QStackedWidget* m_listArea = nullptr;
    QTreeWidget* m_list = nullptr;
    QLabel* m_status = nullptr;
    veneta::CPXImageButton* m_startStop = nullptr;
    veneta::CPXImageButton* m_settings = nullptr;
    veneta::CPXImageButton* m_help = nullptr;
    veneta::CPXImageButton* m_convert = nullptr;
    veneta::CPXImageButton* m_add = nullptr;
    veneta::CPXImageButton* m_delete = nullptr;
    veneta::CPXProgressBox* m_progress = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_trayMenu = nullptr;
    QAction* m_trayStartStop = nullptr;
    bool m_trayShown = false;
    bool m_exiting = false;
    CConversionWindow* m_conversion = nullptr;
    std::unique_ptr<veneta::CFrameBinding> m_frame; // last: unregistered first
    std::unique_ptr<veneta::CFrameBinding> m_folderFrame;
};

// A count of the folder list's rows, answered at window index 4.
inline constexpr veneta::MessageId kFolderListGetItemCount = 0x1004;
