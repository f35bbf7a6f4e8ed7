#include "settings_dialog.h"

#include "app_messages.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "dlna/dlna_settings.h"
#include "password_dialog.h"
#include "platform/host.h"
#include "platform/places.h"
#include "remote/remote_context.h"
#include "select_nic_dialog.h"
#include "skin/qt/gui_message_loop.h"
#include "skin/qt/progress_box.h"
#include "ui_texts.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr const char* kShortcutFile = "/Vemba Cast.desktop";

bool ShortcutExists()
{
    return FileExists(GetStartupFolder() + kShortcutFile);
}

} // namespace

std::optional<int> ParsePortField(const QString& text)
{
    QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 5)
        return std::nullopt;
    for (QChar c : trimmed) {
        if (!c.isDigit() || c.unicode() > '9')
            return std::nullopt;
    }
    int port = trimmed.toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

CSettingDialog::CSettingDialog(std::vector<Adapter> adapters, bool consoleReachable,
    CRemoteAccess& remote, const UiSeams& seams, QWidget* parent)
    : QDialog(parent)
    , m_adapters(std::move(adapters))
    , m_consoleReachable(consoleReachable)
    , m_remote(remote)
    , m_settings(remote.Server().Settings())
    , m_texts(remote.Server().Texts())
    , m_seams(seams)
    , m_progress(new veneta::CPXProgressBox(this))
{
    setObjectName(QStringLiteral("settingDialog"));
    setWindowTitle(Text("IDS_WORD_SETTING_DLG"));
    BuildControls();
    m_frame = std::make_unique<veneta::CFrameBinding>(
        kFrameSettingsDialog, [this](veneta::MessageId m, veneta::WParam w, veneta::LParam) {
            return OnFrameMessage(m, w);
        });
    LoadValues();
}

CSettingDialog::~CSettingDialog() = default;

QString CSettingDialog::Text(const char* key) const
{
    return UiText(m_texts, key);
}

void CSettingDialog::WriteFlag(const char* key, bool on)
{
    m_settings.WriteInt(key, on ? 1 : 0);
}

int CSettingDialog::ReadFlag(const char* key)
{
    return m_settings.ReadInt(key, 0);
}

veneta::LResult CSettingDialog::OnFrameMessage(veneta::MessageId message, veneta::WParam wParam)
{
    // Only code 8 is the dialog's; code 7 goes to the main window.
    if (message == WM_APP_SERVER_ERROR && wParam == kServerErrorNoExternalAccess)
        ShowOkMessage(m_seams, this, Text("IDS_WORD_NOTSUPPORT_MYEXTCONNECT_UPNPDEVICE"));
    return 0;
}

void CSettingDialog::BuildControls()
{
    auto* info = new QGroupBox(Text("IDS_WORD_SERVER_INFO"), this);
    auto* form = new QFormLayout(info);
    m_address = new QLabel(info);
    m_address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_port = new QLineEdit(info);
    m_port->setObjectName(QStringLiteral("port"));
    m_port->setMaxLength(5);
    form->addRow(Text("IDS_WORD_IP"), m_address);
    form->addRow(Text("IDS_WORD_PORT"), m_port);

    m_windowStart = new QCheckBox(Text("IDS_WORD_WINDOWSTART"), this);
    m_autoStart = new QCheckBox(Text("IDS_WORD_AUTOSTART"), this);
    m_passwordMode = new QCheckBox(Text("IDS_WORD_SET_PASSWORD_MODE"), this);
    m_passwordButton = new QPushButton(Text("IDS_WORD_SET_PASSWORD"), this);
    m_pinMode = new QCheckBox(Text("IDS_WORD_ENABLE_INTERNET"), this);
    m_pinText = new QLabel(this);
    m_autoMap = new QCheckBox(Text("IDS_WORD_AUTOMAPPORT"), this);
    m_dlna = new QCheckBox(Text("IDS_WORD_DLNA_SERVER"), this);
    m_dlna->setObjectName(QStringLiteral("dlna"));
    m_adapterButton = new QPushButton(Text("IDS_WORD_SELECT_NIC"), this);

    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(m_passwordMode, 1);
    passwordRow->addWidget(m_passwordButton);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_adapterButton, QDialogButtonBox::ActionRole);
    m_set = buttons->addButton(Text("IDS_WORD_COMMON_SET"), QDialogButtonBox::AcceptRole);
    m_close = buttons->addButton(Text("IDS_WORD_COMMON_CLOSE"), QDialogButtonBox::RejectRole);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(info);
    layout->addWidget(m_windowStart);
    layout->addWidget(m_autoStart);
    layout->addLayout(passwordRow);
    layout->addWidget(m_pinMode);
    layout->addWidget(m_pinText);
    layout->addWidget(m_autoMap);
    layout->addWidget(m_dlna);
    layout->addStretch(1);
    layout->addWidget(buttons);
    setMinimumWidth(480);

    connect(m_passwordMode, &QCheckBox::clicked, this, &CSettingDialog::OnPasswordModeClicked);
    connect(m_passwordButton, &QPushButton::clicked, this, &CSettingDialog::OnPasswordButton);
    connect(m_pinMode, &QCheckBox::clicked, this, &CSettingDialog::OnPinModeClicked);
    connect(m_autoMap, &QCheckBox::clicked, this, &CSettingDialog::OnAutoMapClicked);
    connect(m_adapterButton, &QPushButton::clicked, this, &CSettingDialog::OnAdapterButton);
    connect(m_set, &QPushButton::clicked, this, &CSettingDialog::TrySet);
    connect(m_close, &QPushButton::clicked, this, &CSettingDialog::reject);
}

void CSettingDialog::LoadValues()
{
    m_opening.shortcut = ShortcutExists();
    m_opening.autoStart = ReadFlag(kKeyAutoStart);
    m_opening.passwordMode = ReadFlag(kKeyPasswordMode);
    m_opening.password = m_settings.ReadText(kKeyPassword);
    m_opening.pinMode = ReadFlag(kKeyPINCodeMode);
    m_opening.pinCode = m_settings.ReadText(kKeyPINCode);
    m_opening.autoMap = ReadFlag(kKeyAutoPortMapMode);
    m_opening.inIp = m_settings.ReadText(kKeyInIP);
    m_opening.macAddress = m_settings.ReadText(kKeyMacAddress);

    m_windowStart->setChecked(m_opening.shortcut);
    m_autoStart->setChecked(m_opening.autoStart == 1);
    if (m_settings.ReadText(kKeyPCName).empty())
        m_settings.WriteText(kKeyPCName, GetHostName());
    m_passwordMode->setChecked(m_opening.passwordMode == 1);
    m_passwordButton->setVisible(m_passwordMode->isChecked());
    m_autoMap->setChecked(m_opening.autoMap == 1);
    m_dlna->setChecked(IsDlnaServerOn(m_settings));

    std::string extIp = m_settings.ReadText(kKeyExtIP);
    std::string address = extIp.empty() ? m_opening.inIp : extIp;
    m_address->setText(address.empty() ? QStringLiteral("XXX.XXX.XXX.XXX") : FromUtf8(address));
    std::string port = m_settings.ReadText(kKeyInPort);
    m_port->setText(port.empty() ? QStringLiteral("47002") : FromUtf8(port));

    m_adapterMac = m_opening.macAddress;
    if (m_adapterMac.empty() && !m_adapters.empty())
        m_adapterMac = m_adapters.front().hardwareAddress;
    m_adapterButton->setVisible(m_adapters.size() >= 2);

    if (m_consoleReachable) {
        m_pinMode->setChecked(m_opening.pinMode == 1);
        if (m_pinMode->isChecked())
            m_remote.SyncPinCode(m_adapterMac);
        ShowPinText(m_pinMode->isChecked());
    } else {
        m_pinMode->setChecked(false);
        m_pinMode->setEnabled(false);
        ShowPinText(false);
    }
}

void CSettingDialog::ShowPinText(bool shown)
{
    QString format = Text("IDS_WORD_THISPIN");
    m_pinText->setText(
        format.replace(QStringLiteral("%s"), FromUtf8(m_settings.ReadText(kKeyPINCode))));
    m_pinText->setVisible(shown);
}

void CSettingDialog::OnPasswordModeClicked()
{
    m_passwordButton->setVisible(m_passwordMode->isChecked());
}

void CSettingDialog::OnPasswordButton()
{
    CSetPasswordDialog dialog(QString(), m_texts, m_seams, this);
    if (m_seams.runDialog(dialog) == QDialog::Accepted)
        m_settings.WriteText(kKeyPassword, ToUtf8(dialog.Password()));
}

void CSettingDialog::OnPinModeClicked()
{
    if (!m_pinMode->isChecked()) {
        ShowPinText(false);
        return;
    }
    if (m_remote.SyncPinCode(m_adapterMac)) {
        ShowPinText(true);
    } else {
        m_pinMode->setChecked(false);
        ShowOkMessage(m_seams, this, Text("IDS_WORD_INVAILD_SETTING"));
    }
}

void CSettingDialog::OnAutoMapClicked()
{
    // Whether a gateway answers is the worker's to find: with none it reports code 7
    // ("no UPnP device") and the box is unchecked. The stored external address says
    // nothing about it (it is the adapter's own until the console has answered).
    StartMapping(m_autoMap->isChecked(), false);
}

void CSettingDialog::StartMapping(bool on, bool removeFirst)
{
    m_progress->ShowText(Text(on ? "IDS_WORD_SEARCH_UPNP" : "IDS_WORD_REMOVE_UPNPINFO"));
    QPointer<CSettingDialog> guard(this);
    // The worker reports from its own thread; the answer is handled on the GUI thread,
    // and dropped when the dialog has gone meanwhile.
    MappingRequest request { on, removeFirst, m_pinMode->isChecked() };
    m_remote.StartPortMapping(request, [guard](const MappingOutcome& outcome) {
        veneta::GuiMessageLoop().PostTask([guard, outcome] {
            if (guard)
                guard->OnMappingDone(outcome);
        });
    });
}

void CSettingDialog::OnMappingDone(const MappingOutcome& outcome)
{
    m_progress->CloseBox();
    // A refused mapping unchecks the box; its message (code 7) is the main window's.
    if (m_autoMap->isChecked() && !outcome.mappingOn)
        m_autoMap->setChecked(false);
    if (outcome.pinSynced)
        ShowPinText(m_pinMode->isChecked());
}

void CSettingDialog::OnAdapterButton()
{
    std::string inIp = m_settings.ReadText(kKeyInIP);
    int preset = 0;
    for (size_t i = 0; i < m_adapters.size(); ++i) {
        if (QString::compare(FromUtf8(m_adapters[i].address), FromUtf8(inIp), Qt::CaseInsensitive)
            == 0)
            preset = static_cast<int>(i);
    }
    CSelectNICDlg dialog(m_adapters, preset, m_texts, this);
    if (m_seams.runDialog(dialog) != QDialog::Accepted)
        return;
    int chosen = dialog.Selected();
    if (chosen < 0 || static_cast<size_t>(chosen) >= m_adapters.size())
        return;
    const Adapter& adapter = m_adapters[static_cast<size_t>(chosen)];
    m_settings.WriteText(kKeyInIP, adapter.address);
    m_settings.WriteText(kKeyMacAddress, adapter.hardwareAddress);
    m_adapterMac = adapter.hardwareAddress;
    bool changed
        = QString::compare(FromUtf8(adapter.address), FromUtf8(inIp), Qt::CaseInsensitive) != 0;
    if (m_autoMap->isChecked() && changed)
        StartMapping(true, true);
}

void CSettingDialog::TrySet()
{
    std::optional<int> port = ParsePortField(m_port->text());
    if (!port) {
        ShowOkMessage(m_seams, this, Text("IDS_ERROR_WRONG_PORT"));
        return;
    }
    SetStartupShortcut(m_windowStart->isChecked() ? StartupShortcut::On : StartupShortcut::Off);
    WriteFlag(kKeyAutoStart, m_autoStart->isChecked());
    std::string pinCode = m_settings.ReadText(kKeyPINCode);
    WriteFlag(kKeyPINCodeMode, m_pinMode->isChecked());
    if (!pinCode.empty())
        m_remote.UpdatePinCode(m_pinMode->isChecked());
    WriteFlag(kKeyAutoPortMapMode, m_autoMap->isChecked());
    WriteFlag(kKeyPasswordMode, m_passwordMode->isChecked());
    const bool portChanged = m_settings.ReadText(kKeyInPort) != std::to_string(*port);
    // Written only when changed: an absent value keeps following "RequirePassword".
    if (m_dlna->isChecked() != IsDlnaServerOn(m_settings))
        WriteFlag(kKeyDlnaServer, m_dlna->isChecked());
    m_settings.WriteText(kKeyInPort, std::to_string(*port));
    if (!m_autoMap->isChecked()) // without a mapping the router forwards the same port
        m_settings.WriteText(kKeyExtPort, std::to_string(*port));
    else if (portChanged)
        // The router still forwards to the old port: that mapping goes, one for the new
        // port takes its place (the worker outlives the dialog).
        m_remote.StartPortMapping({ true, true, m_pinMode->isChecked() }, {});
    accept();
}

void CSettingDialog::reject()
{
    if (m_windowStart->isChecked() != m_opening.shortcut)
        SetStartupShortcut(m_opening.shortcut ? StartupShortcut::On : StartupShortcut::Off);
    if (m_autoStart->isChecked() != (m_opening.autoStart == 1))
        m_settings.WriteInt(kKeyAutoStart, static_cast<unsigned>(m_opening.autoStart));
    if (m_passwordMode->isChecked() != (m_opening.passwordMode == 1))
        m_settings.WriteInt(kKeyPasswordMode, static_cast<unsigned>(m_opening.passwordMode));
    if (m_settings.ReadText(kKeyPassword) != m_opening.password)
        m_settings.WriteText(kKeyPassword, m_opening.password);
    if (m_settings.ReadText(kKeyPINCode) != m_opening.pinCode)
        m_settings.WriteText(kKeyPINCode, m_opening.pinCode);
    if (m_settings.ReadText(kKeyInIP) != m_opening.inIp)
        m_settings.WriteText(kKeyInIP, m_opening.inIp);
    if (m_settings.ReadText(kKeyMacAddress) != m_opening.macAddress)
        m_settings.WriteText(kKeyMacAddress, m_opening.macAddress);
    if (m_autoMap->isChecked() != (m_opening.autoMap == 1)) {
        m_settings.WriteInt(kKeyAutoPortMapMode, static_cast<unsigned>(m_opening.autoMap));
        MappingRequest restore { m_opening.autoMap == 1, false, m_opening.pinMode == 1 };
        m_remote.StartPortMapping(restore, {});
    }
    QDialog::reject();
}
