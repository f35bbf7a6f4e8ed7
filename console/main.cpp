// vembacast-console: the console service on its own, for hosting on a public machine,
// alone on an SQLite file or as one of many instances on a PostgreSQL database.
//
// Threads: the main thread parses the options, opens the store, starts the HTTP front
// and then waits for SIGINT/SIGTERM (blocked in every thread), waking to tell systemd's
// watchdog it lives and, hourly, to drop expired registrations. The front runs its
// event thread and workers, which call the console logic.

#include "console/console_front.h"
#include "console/console_log.h"
#include "console/console_options.h"
#include "console/console_service.h"
#include "console/console_store.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <systemd/sd-daemon.h>
#include <thread>

namespace {

constexpr auto kUpkeepEvery = std::chrono::hours(1);
constexpr int kOpenAttempts = 10;

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// Idle connections are cheap for the front; let it hold as many as the system allows.
void RaiseDescriptorLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// A database that is still starting is waited for a little; anything else fails.
bool OpenStore(const ConsoleOptions& options, ConsoleStore& store)
{
    std::string error;
    for (int attempt = 1;; ++attempt) {
        if (OpenConsoleStore(options, store, error))
            return true;
        if (!IsPostgresTarget(options.database) || attempt == kOpenAttempts)
            break;
        ConsoleLog(LogPriority::Warning, "database not ready (%s); trying again", error.c_str());
        store = ConsoleStore {};
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    ConsoleLog(LogPriority::Error, "%s: %s",
        IsPostgresTarget(options.database) ? "PostgreSQL" : options.database.c_str(),
        error.c_str());
    return false;
}

FrontAnswer Health(IPinRegistry& registry)
{
    if (registry.Reachable())
        return FrontAnswer { 200, "text/plain", "ok\n" };
    return FrontAnswer { 503, "text/plain", "database unreachable\n" };
}

FrontOptions FrontOptionsOf(const ConsoleOptions& options)
{
    FrontOptions front;
    front.address = options.address;
    front.port = options.port;
    front.workers = options.workers;
    front.maxConnectionsPerAddress = options.maxConnectionsPerAddress;
    front.headerTimeout = std::chrono::milliseconds(options.headerTimeoutMs);
    front.bodyTimeout = std::chrono::milliseconds(options.bodyTimeoutMs);
    front.unlimitedPeers = options.trustedProxies;
    return front;
}

// Waits for a stop signal, waking for the watchdog and the hourly upkeep.
void WaitForStop(const sigset_t& signals, ConsoleStore& store)
{
    uint64_t watchdogUsec = 0;
    bool watchdog = sd_watchdog_enabled(0, &watchdogUsec) > 0 && watchdogUsec > 0;
    auto tick = watchdog ? std::chrono::microseconds(watchdogUsec / 2)
                         : std::chrono::microseconds(std::chrono::minutes(1));
    auto nextUpkeep = std::chrono::steady_clock::now() + kUpkeepEvery;
    for (;;) {
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(tick);
        timespec wait { seconds.count(),
            static_cast<long>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(tick - seconds).count()) };
        if (sigtimedwait(&signals, nullptr, &wait) > 0)
            return;
        if (watchdog)
            sd_notify(0, "WATCHDOG=1");
        if (std::chrono::steady_clock::now() >= nextUpkeep) {
            store.Upkeep();
            nextUpkeep = std::chrono::steady_clock::now() + kUpkeepEvery;
        }
    }
}

int Serve(const ConsoleOptions& options)
{
    sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // before any thread exists
    RaiseDescriptorLimit();

    ConsoleStore store;
    if (!OpenStore(options, store))
        return 1;
    store.Upkeep();
    CConsoleService console([](const ConsoleRequest& request) { return request.requester; },
        store.registry.get(), store.failedLookups.get(),
        ConsoleRelease { options.latestVersion, "0", options.downloadUrl },
        store.registrations.get());
    const std::set<std::string> trusted = options.trustedProxies;
    IPinRegistry& registry = *store.registry;
    auto handle = [&](const FrontRequest& request) {
        if (request.path == "/health")
            return Health(registry);
        ConsoleAnswer answer = console.Respond(
            ConsoleRequest { PageOfPath(request.path), ParseFormFields(request.body),
                RequesterAddress(request.peer, request.forwardedFor, trusted) });
        if (answer.status == 404)
            return FrontAnswer { 404, "text/plain", "Not Found\n" };
        return FrontAnswer { answer.status, "text/xml", std::move(answer.document) };
    };
    CConsoleFront front;
    std::string error;
    if (!front.Start(FrontOptionsOf(options), handle, error)) {
        ConsoleLog(LogPriority::Error, "%s", error.c_str());
        return 1;
    }
    std::printf("vembacast-console: listening on %s:%d\n", options.address.c_str(), front.Port());
    std::fflush(stdout);
    sd_notifyf(0, "READY=1\nSTATUS=listening on port %d", front.Port());

    WaitForStop(signals, store);
    sd_notify(0, "STOPPING=1");
    front.Stop();
    std::printf("vembacast-console: stopped\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    ConsoleOptions options;
    std::string error;
    if (!ParseConsoleOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "vembacast-console: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(ConsoleUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("vembacast-console (VembaCast) %s\n", VEMBACAST_VERSION_TEXT);
        return 0;
    }
    return Serve(options);
}
