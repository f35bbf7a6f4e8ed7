// vembacastd: the VembaCast server without a window.
//
// Threads: the main thread parses the options, prepares the settings, makes the
// server object and then only waits for SIGINT/SIGTERM (blocked in every thread,
// taken with sigtimedwait) or for the view to report the end, and reads the HTTPS
// certificate again at SIGHUP. The core controller's worker starts and stops the
// server; the network steps and the service watchdog run on threads of their own
// after the start; the server's parts run their own threads.

#include "config/server_parts.h"
#include "config/settings.h"
#include "config/settings_store.h"
#include "config/texts.h"
#include "core/core_controller.h"
#include "core/settings_problems.h"
#include "core/vemba_server.h"
#include "daemon_log.h"
#include "daemon_view.h"
#include "http/allowed_hosts.h"
#include "http/trusted_proxy.h"
#include "dlna/dlna_settings.h"
#include "network_start.h"
#include "options.h"
#include "platform/loopback_probe.h"
#include "platform/places.h"
#include "platform/single_copy.h"
#include "service_watchdog.h"
#include "shares_file.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

namespace {

// Writes what the settings dialog would for the options given, then marks the
// server as set up. False when a write failed.
bool WriteSettings(SettingsStore& settings, const DaemonOptions& options)
{
    bool written = true;
    if (options.port)
        written = settings.WriteText(kKeyInPort, std::to_string(*options.port)) && written;
    if (options.password)
        written = settings.WriteTexts(
                      { { kKeyPassword, *options.password }, { kKeyPasswordMode, "1" } })
            && written;
    if (options.requirePassword)
        written = settings.WriteInt("RequirePassword", 1) && written;
    // A shares file is the whole list, even when it names no share.
    if (!options.shares.empty() || !options.sharesFile.empty())
        written = settings.SaveFolderList(options.shares) && written;
    return settings.WriteInt(kKeySet, 1) && written;
}

// The options asked for settings that could not be written: starting anyway would
// serve with the old ones.
int ReportUnwrittenSettings(SettingsStore& settings, const std::string& resourceFolder)
{
    TextTable texts(resourceFolder, &settings);
    const int error = settings.LastWriteError();
    if (error == ENOSPC)
        std::fprintf(stderr, "vembacastd: %s\n", texts.Lookup("IDS_ERROR_DISK_FULL").c_str());
    else
        std::fprintf(stderr, "vembacastd: the settings in %s cannot be written: %s\n",
            settings.DataFolder().c_str(), std::strerror(error));
    return 1;
}

// Prints what the settings store found wrong with its files; false when a damaged
// file has no good copy, so the server must not start (it would start with that
// file's settings, security ones included, at their defaults).
bool ReportSettingsFiles(SettingsStore& settings, const std::string& resourceFolder)
{
    std::optional<SettingsFileProblem> refused = settings.Refusal();
    std::vector<SettingsFileProblem> problems = settings.TakeProblems();
    if (problems.empty())
        return true;
    TextTable texts(resourceFolder, &settings);
    if (refused)
        texts.Select(LanguageFromLocale()); // a damaged file does not say which one
    for (const SettingsFileProblem& problem : problems) {
        if (problem.goodCopyUsed)
            std::printf("vembacastd: %s\n",
                DescribeSettingsProblem(texts, kTextSettingsRestored, problem).c_str());
    }
    std::fflush(stdout);
    if (!refused)
        return true;
    std::fprintf(stderr, "vembacastd: %s\n",
        DescribeSettingsProblem(texts, "IDS_DAEMON_SETTINGS_DAMAGED", *refused).c_str());
    return false;
}

std::string Joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : " ") + item;
    return text;
}

// The names and proxies given replace the stored ones and are kept for later starts.
void WriteFrontSettings(SettingsStore& settings, const DaemonOptions& options)
{
    if (!options.allowedHosts.empty())
        settings.WriteText(kAllowedHostsSetting, Joined(options.allowedHosts));
    if (!options.trustedProxies.empty())
        settings.WriteText(kTrustedProxiesSetting, Joined(options.trustedProxies));
}

sigset_t HandledSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

void ReloadCertificate(CVembaServer& server)
{
    std::string outcome;
    if (server.WebServer().ReloadTlsIdentity(outcome))
        DaemonLog(LogLevel::Notice, "HTTPS certificate read again: %s", outcome.c_str());
    else
        DaemonLog(LogLevel::Error, "HTTPS certificate not read again (the one in use stays): %s",
            outcome.c_str());
}

// Waits for a stop signal or for the view's end; 0 for a signal, else the reason.
// SIGHUP reads the HTTPS certificate again and goes on waiting.
int WaitForEnd(const sigset_t& signals, const CDaemonView& view, CVembaServer& server)
{
    timespec step { 0, 100 * 1000 * 1000 };
    for (;;) {
        if (int reason = view.ExitReason())
            return reason;
        int signal = sigtimedwait(&signals, nullptr, &step);
        if (signal == SIGHUP)
            ReloadCertificate(server);
        else if (signal > 0)
            return 0;
    }
}

void ReportUnreadableShares(SettingsStore& settings)
{
    for (const UnreadableShare& entry : FindUnreadableShares(settings.LoadFolderList()))
        DaemonLog(LogLevel::Warning,
            "cannot read the share '%s' (%s): %s; give this server's user access to it (see "
            "the README, \"The system service\")",
            entry.share.displayName.c_str(), entry.share.path.c_str(), entry.reason.c_str());
}

// Systemd hears that the server is ready once it listens; the watchdog then vouches
// for it while a static file comes back in time.
std::unique_ptr<CServiceWatchdog> AnnounceReady(CVembaServer& server)
{
    int port = server.WebServer().ListeningPort();
    int httpsPort = server.WebServer().HttpsListeningPort();
    NotifyService("READY=1\nSTATUS=serving on port " + std::to_string(port)
        + (httpsPort ? ", HTTPS on port " + std::to_string(httpsPort) : std::string()));
    auto watchdog = std::make_unique<CServiceWatchdog>(
        ServiceWatchdogPeriod(),
        [port](std::chrono::milliseconds within, const std::atomic<bool>& cancel) {
            return LoopbackAnswers(port, "/favicon.svg", within, &cancel);
        },
        NotifyService);
    watchdog->Start();
    return watchdog;
}

int Serve(DaemonOptions options)
{
    sigset_t signals = HandledSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // before any thread exists
    std::string error;
    if (!options.sharesFile.empty() && !ReadSharesFile(options.sharesFile, options.shares, error)) {
        DaemonLog(LogLevel::Error, "%s", error.c_str());
        return 2;
    }

    ServerParts parts = MakeServerParts(options.dataDir);
    const std::string dataFolder = parts.places.dataFolder;
    CreateFolderPath(dataFolder);
    // Before anything is written: a second server on this folder would rewrite the
    // first one's port and folder list. Held until the end.
    CDataFolderLock dataLock;
    if (!dataLock.Acquire(dataFolder)) {
        TextTable texts(parts.places.resourceFolder);
        texts.Select(LanguageFromLocale());
        DaemonLog(LogLevel::Error, "%s (%s)", texts.Lookup("IDS_DAEMON_DATA_FOLDER_IN_USE").c_str(),
            dataFolder.c_str());
        return 1;
    }
    SettingsStore& settings = *parts.settings;
    if (!ReportSettingsFiles(settings, parts.places.resourceFolder))
        return 1;
    StoreLocaleLanguageIfUnset(settings);
    NetworkBefore before = ReadNetworkBefore(settings);
    if (!WriteNetworkOptions(settings, options, error)) {
        DaemonLog(LogLevel::Error, "%s", error.c_str());
        return 2;
    }
    if (options.WritesSettings() && !WriteSettings(settings, options))
        return ReportUnwrittenSettings(settings, parts.places.resourceFolder);
    WriteFrontSettings(settings, options);
    WriteWebOptions(settings, options);
    ReportUnreadableShares(settings);
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
    std::unique_ptr<CServiceWatchdog> watchdog;
    if (view.ExitReason() == 0) {
        if (view.HasStarted())
            watchdog = AnnounceReady(server);
        network.Start();
    }

    int reason = WaitForEnd(signals, view, server);
    NotifyService("STOPPING=1");
    watchdog.reset();
    network.Stop();
    controller.StopServerAndWait(CCoreController::WhileWaiting::Block);
    controller.Shutdown();
    if (reason > 0)
        return 1; // the start failed; the view has printed why
    DaemonLog(LogLevel::Notice, "stopped");
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
        DaemonLog(LogLevel::Error, "%s", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(DaemonUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("vembacastd (VembaCast) %s\n", VEMBACAST_VERSION_TEXT);
        return 0;
    }
    return Serve(options);
}
