// vembacast-screenshots OUTPUT_FOLDER: renders every window and dialog of the desktop
// program offscreen, in Korean and in English, to OUTPUT_FOLDER/<language>/<name>.png.
// It runs on a throw-away data folder, so nothing of the user's settings is touched.

#include "check_version_dialog.h"
#include "config/server_parts.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "config/texts.h"
#include "conversion/convert_queue.h"
#include "conversion_window.h"
#include "core/vemba_server.h"
#include "main_window.h"
#include "password_dialog.h"
#include "platform/adapters.h"
#include "select_nic_dialog.h"
#include "set_path_dialog.h"
#include "settings_dialog.h"
#include "skin/qt/progress_box.h"
#include "ui_texts.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

bool Save(QWidget& widget, const QString& folder, const QString& name)
{
    widget.show();
    QApplication::processEvents();
    QString path = folder + "/" + name + ".png";
    bool saved = widget.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", path.toUtf8().constData());
    widget.hide();
    return saved;
}

// A job shown as it would be mid-way: not waiting, so the worker leaves it alone.
void ShowSampleJob(CVembaServer& server, const std::string& source, int state, int progress)
{
    auto job = std::make_shared<ConvertInfo_t>(server);
    job->strConvertID = source;
    job->strSourcePath = source;
    job->strOutputPath = GetFolderOf(source) + "/" + GetFileTitleOf(source) + kConvertTempSuffix;
    job->nState = state;
    job->nProgress = progress;
    server.ConvertQueue().AddJob(std::move(job), SameNameJobs::Keep);
}

std::vector<Adapter> SampleAdapters()
{
    return { { "192.168.0.10", "eth0", "02:00:00:00:00:01" },
        { "10.0.0.7", "wlan0", "02:00:00:00:00:02" } };
}

bool RenderLanguage(const std::string& code, const QString& folder, const std::string& data)
{
    const std::string media = data + "/media";
    ServerParts parts = MakeServerParts(data);
    parts.shutdownCommand = "true";
    parts.settings->WriteText(kKeyGeneralLanguage, code);
    CVembaServer server(std::move(parts));
    const TextTable& texts = server.Texts();
    QDir().mkpath(folder);
    UiSeams seams = DesktopSeams();

    bool ok = true;
    CVembaCastDlg window(server, seams);
    ShowSampleJob(server, media + "/holiday.mp4", kConvertConverting, 37);
    ShowSampleJob(server, media + "/concert.mkv", kConvertComplete, 100);
    window.ConversionWindow()->Refresh();
    ok &= Save(window, folder, "main_window");
    window.ProgressBox()->ShowText(UiText(texts, "IDS_WORD_BTN_STARTSERVER"));
    ok &= Save(*window.ProgressBox(), folder, "progress_box");
    ok &= Save(*window.ConversionWindow(), folder, "conversion_window");
    CSettingDialog settings(SampleAdapters(), true, window.Remote(), seams, nullptr);
    ok &= Save(settings, folder, "settings_dialog");
    CSetPasswordDialog password(QStringLiteral("12"), texts, seams, nullptr);
    ok &= Save(password, folder, "password_dialog");
    CSelectNICDlg nic(SampleAdapters(), 0, texts, nullptr);
    ok &= Save(nic, folder, "adapter_dialog");
    CSetPathDlg addFolder(FolderDialogMode::Add, {}, texts, seams, nullptr);
    addFolder.SetEntry(QStringLiteral("Movies"), FromUtf8(media));
    ok &= Save(addFolder, folder, "folder_dialog");
    CCheckVerDlg update(QStringLiteral("1.1.0.0"), QStringLiteral("1.2.0.0"),
        QStringLiteral("https://www.vembacast.com/download"), texts, seams, nullptr);
    ok &= Save(update, folder, "update_dialog");
    QMessageBox box(QMessageBox::Information, UiText(texts, "IDS_APP_NAME"),
        UiText(texts, "IDS_WORD_NOT_SETTING"));
    box.addButton(UiText(texts, "IDS_WORD_COMMON_OK"), QMessageBox::AcceptRole);
    ok &= Save(box, folder, "message_box");
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vembacast-screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string data
        = std::filesystem::temp_directory_path() / ("vembacast-shots-" + std::to_string(getpid()));
    CreateFolderPath(data + "/media");
    for (const char* name : { "holiday.mp4", "concert.mkv" })
        std::fclose(std::fopen((data + "/media/" + name).c_str(), "w"));
    SettingsStore(data).SaveFolderList({ { "Movies", data + "/media" }, { "Kids", data } });
    QApplication application(argc, argv);
    application.setStyle(QStringLiteral("Fusion"));
    bool ok = RenderLanguage("kor", QString::fromUtf8(argv[1]) + "/kor", data)
        && RenderLanguage("eng", QString::fromUtf8(argv[1]) + "/eng", data);
    std::filesystem::remove_all(data);
    return ok ? 0 : 1;
}
