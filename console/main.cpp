// vembacast-console: the console service on its own, for hosting on a public machine.
//
// Threads: the main thread parses the options, opens the PIN registry, starts the
// HTTP service and then only waits for SIGINT/SIGTERM (blocked in every thread). The
// HTTP library runs its own master and worker threads, which call the console logic.

#include "console/console_options.h"
#include "console/console_service.h"
#include "console/sqlite_pin_registry.h"
#include "http/form_service.h"

#include <csignal>
#include <cstdio>

namespace {

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

int Serve(const ConsoleOptions& options)
{
    sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // before any thread exists

    CSqlitePinRegistry registry;
    std::string error;
    if (!registry.Open(options.database, error)) {
        std::fprintf(
            stderr, "vembacast-console: %s: %s\n", options.database.c_str(), error.c_str());
        return 1;
    }
    CLookupLimiter limiter(
        options.maxFailedLookups, std::chrono::seconds(options.lookupWindowSeconds));
    const std::set<std::string> trusted = options.trustedProxies;
    CConsoleService console([](const ConsoleRequest& request) { return request.requester; },
        &registry, &limiter, ConsoleRelease { options.latestVersion, "0", options.downloadUrl });
    CFormService service;
    bool started = service.Start(options.address, options.port, [&](const FormRequest& request) {
        ConsoleRequest consoleRequest { PageOfPath(request.path), ParseFormFields(request.body),
            RequesterAddress(request.remoteAddress, request.forwardedFor, trusted) };
        return console.Answer(consoleRequest);
    });
    if (!started) {
        std::fprintf(stderr, "vembacast-console: cannot listen on %s:%d\n", options.address.c_str(),
            options.port);
        return 1;
    }
    std::printf("vembacast-console: listening on %s:%d\n", options.address.c_str(), service.Port());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
    service.Stop();
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
    return Serve(options);
}
