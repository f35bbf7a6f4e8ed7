// vembacast: the VembaCast server with its desktop window.
//
// Threads: the GUI thread runs the windows and every message addressed to them; the
// core controller's worker starts and stops the server object; the server's parts
// (the HTTP library, the embedded console, the engines, the thumbnail pool, the
// conversion queue) run their own threads and reach the windows only through the main
// window's core view, which hands every call to the GUI thread.

#include "app_start.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Answered before Qt starts, so they work without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vembacast (VembaCast) %s\n", VEMBACAST_VERSION_TEXT);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("Usage: vembacast [--version | --help]\n"
                    "The VembaCast media server with its desktop window (see vembacast(1)).\n");
        return 0;
    }
    PrepareLocale();
    QApplication application(argc, argv);
    return RunDesktopApplication(application);
}
