#pragma once

// The settings dialog: the server's address and port, start at log-in, automatic
// start, the password, the PIN code for access from the internet, the router's port
// mapping and the adapter the server serves on.
//
// Some settings are written while the dialog is open (the password, the adapter, the
// PIN code, the router mapping); Close puts every one of them back as it was at
// opening, Set keeps them and writes the rest.
//
// Threads: the mapping worker reports from its own thread; its outcome and its
// code 8 (posted to the dialog's window index) are handled on the GUI thread.

#include "platform/adapters.h"
#include "remote_access.h"
#include "skin/qt/frame_binding.h"
#include "ui_seams.h"

#include <QDialog>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class SettingsStore;
class TextTable;
class QLineEdit;
class QPushButton;
namespace veneta {
class CPXProgressBox;
}

class CSettingDialog : public QDialog {
    Q_OBJECT
public:
    // The settings and texts are remote's server's.
    CSettingDialog(std::vector<Adapter> adapters, bool consoleReachable, CRemoteAccess& remote,
        const UiSeams& seams, QWidget* parent);
    ~CSettingDialog() override;

    // Close: restores what the dialog changed.
    void reject() override;

    // The controls, for the screenshots and the tests that press them.
    QLineEdit* PortField() const { return m_port; }
    QCheckBox* WindowStartBox() const { return m_windowStart; }
    QCheckBox* AutoStartBox() const { return m_autoStart; }
    QCheckBox* PasswordModeBox() const { return m_passwordMode; }
    QPushButton* PasswordButton() const { return m_passwordButton; }
    QCheckBox* PinModeBox() const { return m_pinMode; }
    QLabel* PinText() const { return m_pinText; }
    QCheckBox* AutoMapBox() const { return m_autoMap; }
    QCheckBox* DlnaBox() const { return m_dlna; }
    QPushButton* AdapterButton() const { return m_adapterButton; }
    QPushButton* SetButton() const { return m_set; }
    QPushButton* CloseButton() const { return m_close; }

private:
    struct Opening {
        bool shortcut = false;
        int autoStart = 0;
        int passwordMode = 0;
        std::string password;
        int pinMode = 0;
        std::string pinCode;
        int autoMap = 0;
        std::string inIp;
        std::string macAddress;
    };

    void BuildControls();
    void LoadValues();
    void ShowPinText(bool shown);
    void OnPasswordModeClicked();
    void OnPasswordButton();
    void OnPinModeClicked();
    void OnAutoMapClicked();
    void OnAdapterButton();
    // Adds (on) or removes the router's mapping; removeFirst moves it to a new adapter.
    void StartMapping(bool on, bool removeFirst);
    void OnMappingDone(const MappingOutcome& outcome);
    veneta::LResult OnFrameMessage(veneta::MessageId message, veneta::WParam wParam);
    void TrySet();
    QString Text(const char* key) const;
    void WriteFlag(const char* key, bool on);
    int ReadFlag(const char* key);

    std::vector<Adapter> m_adapters;
    bool m_consoleReachable;
    CRemoteAccess& m_remote;
    SettingsStore& m_settings;
    const TextTable& m_texts;
    const UiSeams& m_seams;
    Opening m_opening;
    std::string m_adapterMac; // the adapter the PIN registration is for
    QLabel* m_address = nullptr;
    QLineEdit* m_port = nullptr;
    QCheckBox* m_windowStart = nullptr;
    QCheckBox* m_autoStart = nullptr;
    QCheckBox* m_passwordMode = nullptr;
    QPushButton* m_passwordButton = nullptr;
    QCheckBox* m_pinMode = nullptr;
    QLabel* m_pinText = nullptr;
    QCheckBox* m_autoMap = nullptr;
    QCheckBox* m_dlna = nullptr; // "DlnaServer": the television device
    QPushButton* m_adapterButton = nullptr;
    QPushButton* m_set = nullptr;
    QPushButton* m_close = nullptr;
    veneta::CPXProgressBox* m_progress = nullptr;
    std::unique_ptr<veneta::CFrameBinding> m_frame; // while open: the target of code 8
};

// A port typed in the dialog: 1 to 65535 in decimal digits, else nullopt.
std::optional<int> ParsePortField(const QString& text);
