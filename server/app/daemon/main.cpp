// vembacastd: the VembaCast server without a window.
//
// Threads: the main thread parses the options, prepares the settings, makes the
// server object and then only waits for SIGINT/SIGTERM (blocked in every thread,
// taken with sigtimedwait) or for the view to report the end. The core controller's
// worker starts and stops the server; the network steps run on a thread of their own
// after the start; the server's parts run their own threads.

#include "config/server_parts.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "config/texts.h"
#include "core/core_controller.h"
#include "core/vemba_server.h"
#include "daemon_view.h"
#include "dlna/dlna_settings.h"
#include "network_start.h"
#include "options.h"
#include "platform/places.h"
#include "platform/single_copy.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// Writes what the settings dialog would for the options given, then marks the
// server as set up.
void WriteSettings(SettingsStore& settings, const DaemonOptions& options)
{
    if (options.port)
        settings.WriteText(kKeyInPort, std::to_string(*options.port));
    if (options.password)
        settings.WriteTexts({ { kKeyPassword, *options.password }, { kKeyPasswordMode, "1" } });
    if (options.requirePassword)
        settings.WriteInt("RequirePassword", 1);
    if (!options.shares.empty())
        settings.SaveFolderList(options.shares);
    settings.WriteInt(kKeySet, 1);
}

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// Waits for a stop signal or for the view's end; 0 for a signal, else the reason.
int WaitForEnd(const sigset_t& signals, const CDaemonView& view)
{
    timespec step { 0, 100 * 1000 * 1000 };
    for (;;) {
        if (int reason = view.ExitReason())
            return reason;
        if (sigtimedwait(&signals, nullptr, &step) > 0)
            return 0;
    }
}

int Serve(const DaemonOptions& options)
{
    sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // before any thread exists

    ServerParts parts = MakeServerParts(options.dataDir);
    const std::string dataFolder = parts.places.dataFolder;
    CreateFolderPath(dataFolder);
    // Before anything is written: a second server on this folder would rewrite the
    // first one's port and folder list. Held until the end.
    CDataFolderLock dataLock;
    if (!dataLock.Acquire(dataFolder)) {
        TextTable texts(parts.places.resourceFolder);
        texts.Select(LanguageFromLocale());
        std::fprintf(stderr, "vembacastd: %s\n  (%s)\n",
            texts.Lookup("IDS_DAEMON_DATA_FOLDER_IN_USE").c_str(), dataFolder.c_str());
        return 1;
    }
    SettingsStore& settings = *parts.settings;
    StoreLocaleLanguageIfUnset(settings);
    NetworkBefore before = ReadNetworkBefore(settings);
    std::string error;
    if (!WriteNetworkOptions(settings, options, error)) {
        std::fprintf(stderr, "vembacastd: %s\n", error.c_str());
        return 2;
    }
    if (options.WritesSettings())
        WriteSettings(settings, options);
    if (options.dlnaServer)
        settings.WriteInt(kKeyDlnaServer, *options.dlnaServer ? 1 : 0);

    CVembaServer server(std::move(parts));
    CDaemonView view(server);
    CCoreController controller(view, server);
    // The defaults ask the console for the external address, so it must run first.
    controller.StartEmbeddedConsole();
    controller.FillSettingDefaults();
    controller.LoadFolderList();
    controller.CreateServicesFolder();
    controller.StartStopServer();
    // The start itself never waits for the console; the network steps follow it, so
    // they find the server's own port taken by the server.
    controller.WaitWhileBusy(CCoreController::WhileWaiting::Block);
    CNetworkStart network(
        options, before, server, [&controller] { controller.FillSettingDefaults(); });
    if (view.ExitReason() == 0)
        network.Start();

    int reason = WaitForEnd(signals, view);
    network.Stop();
    controller.StopServerAndWait(CCoreController::WhileWaiting::Block);
    controller.Shutdown();
    if (reason > 0)
        return 1; // the start failed; the view has printed why
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
    return Serve(options);
}
