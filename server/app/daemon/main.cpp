// vembacastd: the VembaCast server without a window.
//
// Threads: the main thread parses the options, prepares the settings and then only
// waits for SIGINT/SIGTERM (blocked in every thread, taken with sigtimedwait) or for
// the window to report the end. The message-loop thread runs the main window's
// messages; the core controller's worker starts and stops the server; the HTTP
// library and the embedded console run their own threads.

#include "config/settings.h"
#include "config/texts.h"
#include "core/core_controller.h"
#include "daemon_window.h"
#include "network_start.h"
#include "options.h"
#include "platform/places.h"
#include "platform/single_copy.h"
#include "skin/message_loop.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// Writes what the settings dialog would for the options given, then marks the
// server as set up.
void WriteSettings(const DaemonOptions& options)
{
    if (options.port)
        WriteSettingText(kKeyInPort, std::to_string(*options.port));
    if (options.password) {
        WriteSettingText(kKeyPassword, *options.password);
        WriteSettingInt(kKeyPasswordMode, 1);
    }
    if (options.requirePassword)
        SetSettingInt("RequirePassword", 1);
    if (!options.shares.empty())
        SaveFolderListFile(options.shares);
    WriteSettingInt(kKeySet, 1);
}

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// Waits for a stop signal or for the window's end; 0 for a signal, else the reason.
int WaitForEnd(const sigset_t& signals, const CDaemonWindow& window)
{
    timespec step { 0, 100 * 1000 * 1000 };
    for (;;) {
        if (int reason = window.ExitReason())
            return reason;
        if (sigtimedwait(&signals, nullptr, &step) > 0)
            return 0;
    }
}

int Serve(const DaemonOptions& options)
{
    sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // before any thread exists

    std::string dataFolder = GetDataFolder();
    CreateFolderPath(dataFolder);
    // Before anything is written: a second server on this folder would rewrite the
    // first one's port and folder list. Held until the end.
    CDataFolderLock dataLock;
    if (!dataLock.Acquire(dataFolder)) {
        SelectLanguage(LanguageFromLocale());
        std::fprintf(stderr, "vembacastd: %s\n  (%s)\n",
            LookupText("IDS_DAEMON_DATA_FOLDER_IN_USE").c_str(), dataFolder.c_str());
        return 1;
    }
    StoreLocaleLanguageIfUnset();
    SelectLanguage();
    NetworkBefore before = ReadNetworkBefore();
    std::string error;
    if (!WriteNetworkOptions(options, error)) {
        std::fprintf(stderr, "vembacastd: %s\n", error.c_str());
        return 2;
    }
    if (options.WritesSettings())
        WriteSettings(options);

    veneta::CMessageLoopThread loop;
    CDaemonWindow window(loop);
    CCoreController controller(window);
    window.Attach(controller);
    // The defaults ask the console for the external address, so it must run first.
    controller.StartEmbeddedConsole();
    controller.FillSettingDefaults();
    RunNetworkStart(options, before, DefaultNetworkSeams(),
        [&controller] { controller.FillSettingDefaults(); });
    controller.LoadFolderList();
    controller.CreateServicesFolder();
    controller.StartStopServer();

    int reason = WaitForEnd(signals, window);
    controller.StopServerAndWait();
    controller.Shutdown();
    loop.Stop();
    if (reason > 0)
        return 1; // the start failed; the window has printed why
    std::printf("vembacastd: stopped\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        std::setlocale(LC_CTYPE, "");
    DaemonOptions options;
    std::string error;
    if (!ParseDaemonOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "vembacastd: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(DaemonUsage(), stdout);
        return 0;
    }
    if (!options.dataDir.empty())
        setenv("VEMBACAST_DATA_DIR", options.dataDir.c_str(), 1);
    return Serve(options);
}
