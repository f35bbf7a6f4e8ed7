#pragma once

// The embedded HTTP server: CWebServer checks the settings and starts and stops the
// HTTP library with its option set and the one request callback that routes every
// request through the request table (dispatch.h).
//
// Threads: Start and Stop run on a worker of the main window, never on a library
// thread, and are serialised process-wide. The library runs one master thread and
// 10 worker threads; every handler runs on a worker. The server context is one per
// process: IsWebServerRunning tells every part whether it runs.

#include "http/dispatch.h"

#include <atomic>
#include <functional>
#include <span>
#include <string>

// The external port (setting "ExtPort", loaded at every start); answer URLs that point
// the client back at this server use it.
extern std::atomic<int> g_nExtPort;

bool IsWebServerRunning();
// The port the running server listens on, or 0 when it is stopped.
int GetListeningPort();

// Start error codes kept in m_nLastError.
enum WebServerError : int {
    kWebErrorSettings = 1, // settings incomplete
    kWebErrorNetwork = 3, // no external address, port taken, or ExtPort corrected
    kWebErrorAlreadyRunning = 4,
    kWebErrorLibrary = 5, // the HTTP library could not start
    kWebErrorNotRunning = 6, // Stop while stopped
};

// What the server start and stop need from the rest of the system; each hook may be
// empty when that part has nothing to do.
struct WebServerHooks {
    // Asks the console for the external address and stores it as "ExtIP".
    std::function<bool()> refreshExternalIp;
    // Releases every client session, stopping its engine (before the library stops).
    std::function<void()> releaseSessions;
    // Forgets the work folders of earlier runs (after a successful start).
    std::function<void()> forgetWorkFolders;
    // Clears the sessions' work folders (at stop, after the sessions are released).
    std::function<void()> clearWorkFolders;
    // Removes the engines' temporary files (after the work folders are cleared).
    std::function<void()> removeEngineFiles;
    // Removes the one-time list files nobody fetched.
    std::function<void()> removeListFiles;
    // Deletes every session work folder and list file left in the services folder,
    // remembered or not: before the library starts (the left-overs of a killed run)
    // and at the end of every stop.
    std::function<void()> sweepLeftovers;
};

struct WebServerConfig {
    std::span<const Route> routes; // the request table (core/request_table.h)
    // Static files come from here; empty means res/web in the program folder.
    std::string documentRoot;
};

class CWebServer {
public:
    explicit CWebServer(WebServerHooks hooks = {}, WebServerConfig config = {});
    virtual ~CWebServer(); // stops the server
    CWebServer(const CWebServer&) = delete;
    CWebServer& operator=(const CWebServer&) = delete;

    // True when the server runs; on false m_nLastError holds the reason.
    bool Start();
    // True when a running server was stopped; false (code 6) when none ran. The work
    // folders and left-over list files are removed either way.
    bool Stop();

    // Written by Start and Stop only (serialised process-wide).
    int m_nPort = 0;
    std::string m_strInIP;
    std::string m_strExtIP;
    int m_nLastError = 0;

private:
    bool CheckSettings() const;
    void LoadSettings();
    bool CheckNetwork();
    bool StartLibrary();
    void CleanUp();

    WebServerHooks m_hooks;
    WebServerConfig m_config;
};
