#include "app_start.h"

#include "app_messages.h"
#include "config/server_parts.h"
#include "config/settings.h"
#include "config/texts.h"
#include "core/vemba_server.h"
#include "main_window.h"
#include "platform/places.h"
#include "platform/single_copy.h"
#include "settings_check.h"
#include "skin/qt/message_box.h"
#include "ui_texts.h"

#include <QApplication>
#include <QSocketNotifier>
#include <clocale>
#include <cstdio>
#include <memory>

void PrepareLocale()
{
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        std::setlocale(LC_CTYPE, "");
}

namespace {

void PrepareMessageBox(const TextTable& language)
{
    veneta::MessageBoxTexts texts;
    texts.caption = UiText(language, "IDS_APP_NAME");
    texts.ok = UiText(language, "IDS_WORD_COMMON_OK");
    texts.cancel = UiText(language, "IDS_WORD_COMMON_CANCEL");
    texts.retry = UiText(language, "IDS_WORD_COMMON_RETRY");
    texts.yes = UiText(language, "IDS_WORD_COMMON_YES");
    texts.no = UiText(language, "IDS_WORD_COMMON_NO");
    veneta::SetMessageBoxTexts(texts);
}

} // namespace

int RunDesktopApplication(QApplication& application)
{
    application.setStyle(QStringLiteral("Fusion"));
    application.setQuitOnLastWindowClosed(false); // the window hides in the tray
    std::string dataFolder = GetDataFolder();
    CreateFolderPath(dataFolder);

    CSingleCopy singleCopy;
    switch (singleCopy.Claim(GetRuntimeFolder(), dataFolder)) {
    case SingleCopyRole::Second:
        return 0;
    case SingleCopyRole::Failed:
        std::fprintf(stderr, "vembacast: another copy runs but does not answer\n");
        return 1;
    case SingleCopyRole::First:
        break;
    }
    ServerParts parts = MakeServerParts(dataFolder);
    CDataFolderLock dataLock; // held until the end: one server per data folder
    const bool folderOwned = dataLock.Acquire(dataFolder);
    {
        // The server's own table follows the same language setting; this one serves
        // the message boxes and the message below, before the server exists.
        TextTable texts(parts.places.resourceFolder, parts.settings.get());
        PrepareMessageBox(texts);
        if (!folderOwned) {
            QString text = UiText(texts, "IDS_ERROR_DATA_FOLDER_IN_USE")
                               .replace(QStringLiteral("%s"), FromUtf8(dataFolder));
            std::fprintf(stderr, "vembacast: %s\n", ToUtf8(text).c_str());
            if (QGuiApplication::platformName() != QStringLiteral("offscreen"))
                veneta::CPXMessageBox::Show(nullptr, text); // nobody could answer an unseen box
            return 1;
        }
        UiSeams seams = DesktopSeams();
        if (QGuiApplication::platformName() == QStringLiteral("offscreen")) {
            // Nobody could answer an unseen box: a damaged file without a good copy
            // ends the program, as a "no" would (the text has gone to stderr).
            seams.showMessage = [](QWidget*, const QString&, veneta::MessageButtons) {
                return veneta::kButtonNo;
            };
        }
        if (!ConfirmSettingsFiles(*parts.settings, texts, seams))
            return 1;
    }

    CVembaServer server(std::move(parts));
    CVembaCastDlg window(server, DesktopSeams());
    window.Controller().StartEmbeddedConsole();
    QObject::connect(&window, &CVembaCastDlg::ExitRequested, &application, &QApplication::quit);
    std::unique_ptr<QSocketNotifier> wake;
    if (singleCopy.ListenFd() >= 0) {
        // A later copy asks for the window as a click on the tray icon would.
        wake = std::make_unique<QSocketNotifier>(singleCopy.ListenFd(), QSocketNotifier::Read);
        QObject::connect(wake.get(), &QSocketNotifier::activated, &window, [&] {
            if (singleCopy.TakeWakeRequests())
                veneta::CPXFrameMSG::Post(
                    veneta::kFrameMainWindow, WM_APP_TRAY_NOTIFY, 0, kTrayLeftButtonDown);
        });
    }
    window.show();
    window.OnInitDialog();
    window.OnLoad();
    int code = application.exec();
    window.ExitProgram();
    return code;
}
