// vembacast-trace: prints every trace message the server sends to its viewer sink,
// one line each, as "<level word in hex> <text>", until interrupted.

#include "platform/places.h"
#include "trace_viewer.h"

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<bool> g_stop { false };

void OnStopSignal(int)
{
    g_stop.store(true);
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: vembacast-trace\n"
                        "Prints the trace messages of a running VembaCast server (trace switch\n"
                        "PXTRACE with bit 0 set in Veneta.ini) until Ctrl-C.\n");
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vembacast-trace (VembaCast) %s\n", VEMBACAST_VERSION_TEXT);
            return 0;
        }
        std::fprintf(stderr, "vembacast-trace: unknown option %s\n", argv[i]);
        return 2;
    }
    struct sigaction action { };
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::string folder = GetRuntimeFolder();
    if (folder.empty()) {
        std::fprintf(stderr, "vembacast-trace: no runtime folder\n");
        return 1;
    }
    return RunTraceViewer(folder + "/Displayer", g_stop);
}
