#pragma once

// The embedded HTTP server: CWebServer checks the settings and starts and stops the
// HTTP library with its option set and the one request callback that routes every
// request through the request table (dispatch.h).
//
// Threads: Start and Stop come from the core's start/stop worker (tests call them
// from their own threads). They are ordered by a state (stopped, starting, running,
// stopping) guarded by m_lock: a caller claims the state, does the slow part (the
// library's start, the release of sessions, the library's stop, which joins its
// threads, the clean-up of files) with no lock held, and settles it again; a caller
// that finds a start or a stop under way waits on m_settled. The library runs one
// master thread and many workers; every handler runs on a worker. The running
// context's routes are read by the workers without a lock: they are fixed before the
// library starts and freed only after it has stopped.

#include "http/dispatch.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class HttpContext;
class HttpsPort;

// Start error codes kept in m_nLastError.
enum WebServerError : int {
    kWebErrorSettings = 1, // settings incomplete
    kWebErrorNetwork = 3, // port taken, or ExtPort corrected
    kWebErrorAlreadyRunning = 4,
    kWebErrorLibrary = 5, // the HTTP library could not start
    kWebErrorNotRunning = 6, // Stop while stopped
    kWebErrorHttps = 9, // the HTTPS port cannot start (m_strLastErrorDetail says why)
    kWebErrorDiskFull = 10, // a setting the start corrects cannot be written: ENOSPC
};

// What the server start and stop need from the rest of the system; each hook may be
// empty when that part has nothing to do.
struct WebServerHooks {
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
    std::vector<Route> routes; // the request table (core/request_table.h)
    // Static files come from here; empty means web/ of the resource folder.
    std::string documentRoot;
};

class CWebServer {
public:
    explicit CWebServer(HttpContext& server);
    virtual ~CWebServer(); // stops the library (the owner has stopped it with its hooks)
    CWebServer(const CWebServer&) = delete;
    CWebServer& operator=(const CWebServer&) = delete;

    // Set before the first start, and cleared (empty hooks) when the parts the hooks
    // reach go; never while a start or stop runs.
    void Configure(WebServerHooks hooks, WebServerConfig config);

    // True when the server runs; on false m_nLastError holds the reason.
    bool Start();
    // True when a running server was stopped; false (code 6) when none ran. The work
    // folders and left-over list files are removed either way.
    bool Stop();

    bool IsRunning() const { return m_running.load(); }
    // The port the running server listens on, or 0 when it is stopped.
    int ListeningPort() const { return m_listeningPort.load(); }
    // The HTTPS port the running server listens on, or 0 (stopped, or HTTPS off).
    int HttpsListeningPort() const { return m_httpsListeningPort.load(); }
    // Reads the HTTPS certificate and key again (https_port.h); the next TLS
    // connection presents them, the plain port is not touched. The outcome describes
    // the new certificate, or says why the one in use stays.
    bool ReloadTlsIdentity(std::string& outcome);
    // The external port (setting "ExtPort", loaded at every start); answer URLs that
    // point the client back at this server use it.
    int ExtPort() const { return m_nExtPort.load(); }
    // Loads "ExtPort" again (the network settings were refilled while it runs).
    void ReloadExternalPort();

    // Written by Start and Stop only, which the state orders; read them after a
    // Start or Stop has returned.
    int m_nPort = 0;
    std::string m_strInIP;
    std::string m_strExtIP;
    int m_nLastError = 0;
    std::string m_strLastErrorDetail; // what the library or the HTTPS set-up said, if anything

    // What the library's callback reads (web_server.cpp).
    struct RunningLibrary;

private:
    enum class State { Stopped, Starting, Running, Stopping };

    bool CheckSettings() const;
    void LoadSettings();
    bool CheckNetwork();
    std::unique_ptr<RunningLibrary> StartLibrary(std::shared_ptr<HttpsPort> https);
    void CleanUp();
    // Waits while a start or stop is under way; then the state found.
    State WaitSettled(std::unique_lock<std::mutex>& lock);

    HttpContext& m_server;
    WebServerHooks m_hooks; // set before the first start, read-only after
    WebServerConfig m_config; // the same

    std::atomic<int> m_nExtPort { 0 };
    std::atomic<bool> m_running { false }; // mirrors m_state for readers without the lock
    std::atomic<int> m_listeningPort { 0 };
    std::atomic<int> m_httpsListeningPort { 0 };

    mutable std::mutex m_lock;
    std::condition_variable m_settled; // with m_lock: the state left Starting or Stopping
    // --- guarded by m_lock
    State m_state = State::Stopped;
    std::unique_ptr<RunningLibrary> m_library;
};
