// vembacast: the VembaCast server with its desktop window.
//
// Threads: the GUI thread runs the windows and every message addressed to them; the
// core controller's worker starts and stops the server; the HTTP library, the
// embedded console, the engines and the thumbnail pool run their own threads and reach
// the windows only through the window registry.

#include "app_start.h"

#include <QApplication>

int main(int argc, char** argv)
{
    PrepareLocale();
    QApplication application(argc, argv);
    return RunDesktopApplication(application);
}
