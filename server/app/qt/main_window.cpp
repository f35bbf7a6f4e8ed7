#include "main_window.h"

#include "app_messages.h"
#include "check_version_dialog.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "config/trace.h"
#include "conversion_window.h"
#include "http/web_server.h"
#include "skin/qt/image_button.h"
#include "skin/qt/progress_box.h"
#include "ui_texts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

CVembaCastDlg::CVembaCastDlg(CVembaServer& server, UiSeams seams, CoreHooks hooks, QWidget* parent)
    : QWidget(parent)
    , m_server(server)
    , m_remote(server)
    , m_seams(std::move(seams))
    , m_controller(*this, server, std::move(hooks))
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(Text("IDS_APP_NAME"));
    m_frame = std::make_unique<veneta::CFrameBinding>(
        veneta::kFrameMainWindow, [this](veneta::MessageId m, veneta::WParam w, veneta::LParam l) {
            return OnFrameMessage(m, w, l);
        });
    BuildControls();
    m_folderFrame = std::make_unique<veneta::CFrameBinding>(
        veneta::kFrameFolderList, [this](veneta::MessageId m, veneta::WParam, veneta::LParam) {
            return OnFolderListMessage(m);
        });
    BuildTray();
    LoadFolderRows();
    m_controller.CreateServicesFolder();
    m_conversion = new CConversionWindow(m_server, this);
    m_startStop->setEnabled(false); // until the start-up check passes
}

CVembaCastDlg::~CVembaCastDlg()
{
    m_frame.reset();
    m_folderFrame.reset();
    if (!m_exiting) {
        m_controller.StopServerAndWait();
        m_controller.Shutdown();
    }
}

QString CVembaCastDlg::Text(const char* key) const
{
    return UiText(m_server.Texts(), key);
}

void CVembaCastDlg::BuildControls()
{
    auto* top = new QWidget(this);
    top->setObjectName(QStringLiteral("topBand"));
    top->setAutoFillBackground(true);
    QPalette band = top->palette();
    band.setColor(QPalette::Window, QColor(0x2B, 0x3A, 0x4A));
    band.setColor(QPalette::WindowText, Qt::white);
    band.setColor(QPalette::ButtonText, Qt::white);
    top->setPalette(band);
    auto* topRow = new QHBoxLayout(top);
    m_startStop = MakeButton(kCmdStartStop, "IDS_WORD_BTN_STARTSERVER", 0);
    m_startStop->SetFallbackIcons({ style()->standardIcon(QStyle::SP_MediaPlay),
        style()->standardIcon(QStyle::SP_MediaStop) });
    m_settings = MakeButton(kCmdSettings, "IDS_WORD_BTN_SETTING", 0);
    m_settings->SetFallbackIcons({ style()->standardIcon(QStyle::SP_FileDialogDetailedView) });
    m_help = MakeButton(kCmdHelp, "IDS_WORD_BTN_HELP", 0);
    m_help->SetFallbackIcons({ style()->standardIcon(QStyle::SP_DialogHelpButton) });
    m_title = new QLabel(Text("IDS_APP_NAME"), top);
    QFont titleFont = m_title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    for (QWidget* widget : { static_cast<QWidget*>(m_startStop), static_cast<QWidget*>(m_settings),
             static_cast<QWidget*>(m_help) })
        topRow->addWidget(widget);
    topRow->addStretch(1);
    topRow->addWidget(m_title);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("folderList"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setHeaderLabels({ Text("IDS_WORD_NAME"), Text("IDS_WORD_FOLDER") });
    m_list->header()->resizeSection(0, 153);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this,
        [this](QTreeWidgetItem* item) { OnEditFolder(item); });
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QTreeWidgetItem* item = m_list->itemAt(at);
        if (!item)
            return;
        QMenu menu(this);
        menu.addAction(Text("IDS_WORD_BTN_EDIT"), this, [this, item] { OnEditFolder(item); });
        menu.addAction(Text("IDS_WORD_FOLDER"), this, [this, item] { OnOpenFolder(item); });
        menu.addAction(Text("IDS_WORD_BTN_DELETE"), this, [this] { OnDeleteFolders(); });
        menu.exec(m_list->viewport()->mapToGlobal(at));
    });
    auto* empty = new QLabel(this);
    empty->setObjectName(QStringLiteral("emptyList"));
    empty->setPixmap(style()->standardIcon(QStyle::SP_DirIcon).pixmap(96, 96));
    empty->setAlignment(Qt::AlignCenter);
    m_listArea = new QStackedWidget(this);
    m_listArea->addWidget(empty);
    m_listArea->addWidget(m_list);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_convert = MakeButton(kCmdConversion, "IDS_WORD_BTN_REMOTECONVERT", 0);
    m_convert->SetFallbackIcons({ style()->standardIcon(QStyle::SP_BrowserReload) });
    m_add = MakeButton(kCmdAddFolder, "IDS_WORD_BTN_ADD", 0);
    m_add->SetFallbackIcons({ style()->standardIcon(QStyle::SP_FileDialogNewFolder) });
    m_delete = MakeButton(kCmdDeleteFolder, "IDS_WORD_BTN_DELETE", 0);
    m_delete->SetFallbackIcons({ style()->standardIcon(QStyle::SP_TrashIcon) });
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_convert);
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_add);
    bottom->addWidget(m_delete);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->addWidget(top);
    layout->addWidget(m_listArea, 1);
    layout->addLayout(bottom);
    m_progress = new veneta::CPXProgressBox(this);
    resize(640, 460);
    ShowServerState(false);
}

veneta::CPXImageButton* CVembaCastDlg::MakeButton(int command, const char* textKey, int image)
{
    auto* button = new veneta::CPXImageButton(command, this);
    button->SetText(Text(textKey));
    button->SetImage(image);
    connect(button, &QToolButton::clicked, this, [this, command] { RunCommand(command); });
    return button;
}

void CVembaCastDlg::BuildTray()
{
    m_trayMenu = new QMenu(this);
    m_trayStartStop = m_trayMenu->addAction(
        Text("IDS_WORD_BTN_STARTSERVER"), this, [this] { RunCommand(kCmdStartStop); });
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(Text("IDS_MENU_EXIT"), this, [this] { RunCommand(kCmdExit); });
    m_tray = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_MediaPlay), this);
    m_tray->setToolTip(Text("IDS_APP_NAME"));
    m_tray->setContextMenu(m_trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                OnTrayNotify(kTrayLeftButtonDown);
        });
}

void CVembaCastDlg::OnInitDialog()
{
    UpdateCheck offer = m_remote.RunUpdateCheck();
    if (offer.result == kUpdateAvailable) {
        CCheckVerDlg dialog(FromUtf8(offer.localVersion), FromUtf8(offer.serverVersion),
            FromUtf8(offer.downloadUrl), m_server.Texts(), m_seams, this);
        m_seams.runDialog(dialog);
    }
    switch (m_remote.RunStartupCheck()) {
    case kStartupGood:
        m_startStop->setEnabled(true);
        break;
    case kStartupNeverSetUp:
        ShowOkMessage(m_seams, this, Text("IDS_WORD_NOT_SETTING"));
        veneta::CPXFrameMSG::Post(veneta::kFrameMainWindow, veneta::kWmCommand, kCmdSettings);
        break;
    case kStartupConsoleUnreachable:
        ShowOkMessage(m_seams, this,
            Text("IDS_WORD_UNABLE_RELAYSERVER") + QStringLiteral(" ")
                + Text("IDS_WORD_NEED_RESETTING"));
        m_consoleReachable = false;
        break;
    case kStartupNetworkChanged: {
        SettingsStore& settings = m_server.Settings();
        std::vector<std::pair<std::string, std::string>> cleared;
        for (const char* key :
            { kKeyInIP, kKeyInPort, kKeyExtIP, kKeyExtPort, kKeyMacAddress, kKeyPINCode })
            cleared.emplace_back(key, "");
        settings.WriteTexts(cleared);
        settings.WriteInt(kKeyPINCodeMode, 0);
        settings.WriteInt(kKeyAutoPortMapMode, 0);
        ShowOkMessage(m_seams, this, Text("IDS_WORD_NEED_RESETTING"));
        break;
    }
    default:
        break;
    }
}

void CVembaCastDlg::OnLoad()
{
    if (m_server.Settings().ReadInt(kKeyAutoStart, 0) >= 1)
        RunCommand(kCmdStartStop);
}

void CVembaCastDlg::RunCommand(int command)
{
    switch (command) {
    case kCmdStartStop:
        m_controller.StartStopServer();
        break;
    case kCmdSettings:
        OnSettings();
        break;
    case kCmdHelp:
        m_seams.openAddress(FromUtf8(m_server.Settings().ReadText(kKeyHelpURL, kDefaultHelpURL)));
        break;
    case kCmdConversion:
        m_conversion->setVisible(!m_conversion->isVisible());
        break;
    case kCmdAddFolder:
        OnAddFolder();
        break;
    case kCmdDeleteFolder:
        OnDeleteFolders();
        break;
    case kCmdExit:
        OnExit();
        break;
    default:
        break;
    }
}

void CVembaCastDlg::OnGui(std::function<void()> task)
{
    if (QThread::currentThread() == thread())
        task();
    else
        QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void CVembaCastDlg::ShowProgress(const char* textKey)
{
    OnGui([this, key = std::string(textKey)] { m_progress->ShowText(Text(key.c_str())); });
}

void CVembaCastDlg::CloseProgress()
{
    OnGui([this] { m_progress->CloseBox(); });
}

void CVembaCastDlg::ServerStateChanged(bool running)
{
    OnGui([this, running] { ShowServerState(running); });
}

void CVembaCastDlg::ShowServerError(int, const char* textKey)
{
    // From the worker for a failed start, or from a posted message (already on the GUI
    // thread).
    OnGui([this, key = std::string(textKey)] { ShowOkMessage(m_seams, this, Text(key.c_str())); });
}

void CVembaCastDlg::DismissMessages()
{
    OnGui([] {
        veneta::CPXFrameMSG::Send(veneta::kFrameMessageBox, veneta::kWmCommand, veneta::kIdCancel);
    });
}

void CVembaCastDlg::PumpMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void CVembaCastDlg::ServerShutDown(bool succeeded)
{
    // The command has traced why it failed; the server stays stopped.
    if (!succeeded)
        OnGui([this] { ReportShutdownFailure(); });
}

void CVembaCastDlg::ConversionChanged(ConversionChange change, const ConvertInfo_t& job)
{
    PostConversionChange(change, job);
}

void CVembaCastDlg::ShowServerState(bool running)
{
    const char* key = running ? "IDS_WORD_BTN_STOPSERVER" : "IDS_WORD_BTN_STARTSERVER";
    m_startStop->SetImage(running ? 1 : 0);
    m_startStop->SetText(Text(key));
    if (m_trayStartStop)
        m_trayStartStop->setText(Text(key));
    if (running) {
        std::string address = m_server.Settings().ReadText(kKeyInIP);
        m_status->setText(
            QStringLiteral("http://%1:%2/")
                .arg(address.empty() ? QStringLiteral("127.0.0.1") : FromUtf8(address))
                .arg(m_server.WebServer().ListeningPort()));
    } else {
        m_status->clear();
    }
    emit ServerStateShown(running);
}

void CVembaCastDlg::ReportShutdownFailure()
{
    m_status->setText(Text("IDS_ERROR_FAILED_SHUTDOWN"));
    ShowOkMessage(m_seams, this, Text("IDS_ERROR_FAILED_SHUTDOWN"));
}

veneta::LResult CVembaCastDlg::OnFrameMessage(
    veneta::MessageId message, veneta::WParam wParam, veneta::LParam lParam)
{
    if (message == veneta::kWmCommand) {
        RunCommand(static_cast<int>(wParam));
        return 0;
    }
    if (message == WM_APP_TRAY_NOTIFY) {
        OnTrayNotify(lParam);
        return 0;
    }
    if (message == WM_APP_SERVER_ERROR) {
        int code = static_cast<int>(wParam);
        if (const char* key = ServerErrorTextKey(code))
            ShowServerError(code, key);
    }
    return 0;
}

veneta::LResult CVembaCastDlg::OnFolderListMessage(veneta::MessageId message)
{
    return message == kFolderListGetItemCount ? m_list->topLevelItemCount() : 0;
}

void CVembaCastDlg::OnTrayNotify(veneta::LParam mouse)
{
    if (mouse == kTrayLeftButtonDown)
        ShowFromTray();
    else if (mouse == kTrayRightButtonDown)
        m_trayMenu->popup(QCursor::pos());
}

void CVembaCastDlg::ShowFromTray()
{
    m_tray->hide();
    m_trayShown = false;
    showNormal();
    raise();
    activateWindow();
}

void CVembaCastDlg::HideToTray()
{
    hide();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_tray->show();
    m_trayShown = true; // the program keeps running either way
}

void CVembaCastDlg::closeEvent(QCloseEvent* event)
{
    if (m_exiting) {
        event->accept();
        return;
    }
    event->ignore();
    HideToTray();
}

void CVembaCastDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter and Escape neither press a button nor close the window.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return
        || event->key() == Qt::Key_Enter)
        return;
    QWidget::keyPressEvent(event);
}

void CVembaCastDlg::OnExit()
{
    if (m_seams.showMessage(this, Text("IDS_WORD_COMMON_EXIT"), veneta::MessageButtons::YesNo)
        != veneta::kButtonYes)
        return;
    ExitProgram();
}

void CVembaCastDlg::ExitProgram()
{
    if (m_exiting)
        return;
    m_controller.StopServerAndWait();
    m_exiting = true;
    m_controller.SetRows(m_controller.Rows());
    m_controller.Shutdown();
    m_tray->hide();
    emit ExitRequested();
}
