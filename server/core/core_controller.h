#pragma once

// The core of the main window, shared by the desktop application and the headless
// daemon: the server start/stop command on a worker thread, the messages addressed to
// the main window (engine notices, start errors, a client's shutdown request), the
// shared folder rows with their folder list file, and the ordered shutdown.
//
// Threads: the window (or the daemon's message loop) calls everything here except
// the worker's own steps. Start and stop run on one worker at a time; the worker talks
// to the view from its own thread (a GUI view hands the calls to its GUI thread) and
// reports a failed start by posting WM_APP_SERVER_ERROR to the main window (frame
// index 2). IsServerRunning and IsWorkerBusy may be polled from any thread.

#include "config/settings.h"
#include "conversion/convert_queue.h"
#include "http/web_server.h"
#include "remote/embedded_console.h"
#include "skin/frame_msg.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What the main window shows; every call may come from the start/stop worker.
class ICoreView {
public:
    virtual ~ICoreView() = default;
    // The progress box with the text of textKey ("IDS_WORD_BTN_STARTSERVER" ...).
    virtual void ShowProgress(const char* textKey) = 0;
    virtual void CloseProgress() = 0;
    // The start/stop button: running shows "stop".
    virtual void ServerStateChanged(bool running) = 0;
    // WM_APP_SERVER_ERROR: one message box with the text of textKey.
    virtual void ShowServerError(int code, const char* textKey) = 0;
    // Handles pending window messages while the window thread waits for a worker.
    virtual void PumpMessages() { }
};

// The parts of the system the core drives; each may stay empty until that part exists.
struct CoreHooks {
    WebServerHooks server;
    // Puts one folder of the folder list file into the shared folder list.
    std::function<void(const FolderListEntry&)> registerSharedFolder;
    // Starts thumbnail making for every shared folder (after a successful start).
    std::function<void()> startThumbnails;
    // WM_APP_ENC_COMPLETE / WM_APP_ENC_ERROR for a live session (lParam, never 0).
    std::function<void(veneta::MessageId, veneta::LParam)> engineNotice;
    // Shutdown steps: wait for the thumbnail pool (at most 10 s), end every live
    // session, cancel running conversions.
    std::function<void()> stopThumbnailPool;
    std::function<void()> endSessions;
    std::function<void()> cancelConversions;
    // Shuts the computer down; false when not permitted.
    std::function<bool()> shutdownComputer;
};

// The hooks of the running system as far as it is built.
CoreHooks DefaultCoreHooks();

class CCoreController {
public:
    CCoreController(ICoreView& view, CoreHooks hooks = DefaultCoreHooks());
    ~CCoreController(); // waits for the worker
    CCoreController(const CCoreController&) = delete;
    CCoreController& operator=(const CCoreController&) = delete;

    // Program start: the embedded console, when no console address is configured, so
    // the console requests of the defaults and the server start have someone to ask.
    bool StartEmbeddedConsole();
    // Fills empty network settings from the adapters of this computer (before the
    // settings dialog opens, and at every daemon start).
    void FillSettingDefaults();
    // Program start: the folder list file into the rows and the shared folder list.
    void LoadFolderList();
    // The services folder with all its parents.
    bool CreateServicesFolder();
    std::vector<FolderListEntry> Rows() const;
    void SetRows(std::vector<FolderListEntry> rows);
    bool SaveFolderList() const;

    // The start/stop command: shows the progress box and starts the worker, which
    // stops a running server or starts a stopped one. False when a worker is busy.
    bool StartStopServer();
    bool IsServerRunning() const;
    bool IsWorkerBusy() const { return m_busy; }
    int LastServerError() const;
    // Exit and shutdown: stops a running server on the worker and waits, pumping the
    // view's messages every 10 ms, until no server runs and no worker is busy.
    void StopServerAndWait();

    // Messages addressed to the main window; other messages give 0.
    veneta::LResult HandleMessage(
        veneta::MessageId message, veneta::WParam wParam, veneta::LParam lParam);

    // Window destruction: saves the folder list, waits for the thumbnail pool, ends the
    // live sessions and cancels the conversions.
    void Shutdown();

    // The conversion queue and its worker, running from construction to Shutdown.
    CConvertQueue& ConvertQueue() { return m_convertQueue; }

private:
    void RunStartStop();
    void WaitWhileBusy();

    ICoreView& m_view;
    CoreHooks m_hooks;
    CEmbeddedConsole m_console; // outlives the server: declared before it
    CWebServer m_server; // Start/Stop on the worker only
    CConvertQueue m_convertQueue;
    std::atomic<bool> m_busy { false };
    std::atomic<int> m_lastError { 0 };
    std::mutex m_workerLock;
    std::thread m_worker; // guarded by m_workerLock
    mutable std::mutex m_rowsLock;
    std::vector<FolderListEntry> m_rows; // guarded by m_rowsLock
};
