// vembacast: the VembaCast server with its desktop window.
//
// Threads: the GUI thread runs the windows and every message addressed to them; the
// core controller's worker starts and stops the server object; the server's parts
// (the HTTP library, the embedded console, the engines, the thumbnail pool, the
// conversion queue) run their own threads and reach the windows only through the main
// window's core view, which hands every call to the GUI thread.

#include "app_start.h"

#include <QApplication>

int main(int argc, char** argv)
{
    PrepareLocale();
    QApplication application(argc, argv);
    return RunDesktopApplication(application);
}
