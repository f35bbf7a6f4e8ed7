#pragma once

// The core of the main window, shared by the desktop application and the headless
// daemon: the server start/stop command on a worker thread, the shared folder rows
// with their folder list file, a client's power-off request, and the ordered
// shutdown. It drives one server object, which it hears through IServerEvents.
//
// Threads: the window (or the daemon's main thread) calls everything here. Start and
// stop run on one worker at a time; the worker talks to the view from its own thread
// (a GUI view hands the calls to its GUI thread). A client's power-off request comes
// on an HTTP worker and is carried out on the controller's own action thread, which
// stops the server and then runs the shutdown command. m_workerLock guards the worker
// thread and the busy flag and is never held while a thread is joined or the view is
// called; m_idle tells waiters that the worker has finished.

#include "config/settings.h"
#include "core/vemba_server.h"
#include "platform/task_queue.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What the main window shows; every call may come from the start/stop worker or the
// action thread.
class ICoreView {
public:
    virtual ~ICoreView() = default;
    // The progress box with the text of textKey ("IDS_WORD_BTN_STARTSERVER" ...).
    virtual void ShowProgress(const char* textKey) = 0;
    virtual void CloseProgress() = 0;
    // The start/stop button: running shows "stop".
    virtual void ServerStateChanged(bool running) = 0;
    // A failed start (codes 1 to 7): one message box with the text of textKey.
    virtual void ShowServerError(int code, const char* textKey) = 0;
    // Closes a message box still open from before (a new start/stop begins).
    virtual void DismissMessages() { }
    // Handles pending window messages while the window thread waits for a worker.
    virtual void PumpMessages() { }
    // A client's power-off request was carried out: the server has stopped, and the
    // shutdown command ran (succeeded: the computer is going down).
    virtual void ServerShutDown(bool succeeded) { (void)succeeded; }
    // A conversion job changed (the conversion window redraws).
    virtual void ConversionChanged(ConversionChange change, const ConvertInfo_t& job)
    {
        (void)change;
        (void)job;
    }
};

struct CoreHooks {
    // Shuts the computer down; false when not permitted. Empty: the server's shutdown
    // command.
    std::function<bool()> shutdownComputer;
};

class CCoreController : private IServerEvents {
public:
    CCoreController(ICoreView& view, CVembaServer& server, CoreHooks hooks = {});
    ~CCoreController() override; // waits for the worker and the action thread
    CCoreController(const CCoreController&) = delete;
    CCoreController& operator=(const CCoreController&) = delete;

    CVembaServer& Server() { return m_server; }

    // Program start: the embedded console, when no console address is configured, so
    // the console requests have someone to ask.
    bool StartEmbeddedConsole();
    // Fills empty network settings from the adapters of this computer (before the
    // settings dialog opens, and at every daemon start). Never waits for the console.
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
    bool IsWorkerBusy() const;
    int LastServerError() const;
    // Exit and shutdown: stops a running server on the worker and waits until no
    // server runs and no worker is busy; a window thread pumps its messages meanwhile.
    enum class WhileWaiting { Pump, Block };
    void StopServerAndWait(WhileWaiting waiting = WhileWaiting::Pump);
    // Waits until no worker is busy.
    void WaitWhileBusy(WhileWaiting waiting);

    // The settings dialog's mapping probe reaches the server through the gateway, so
    // a stopped server is started for the dialog: on the calling (window) thread,
    // without the progress box, and a start that fails is left for the probe to
    // report. True when it was started here; StopAfterProbe stops it again.
    bool StartForProbe();
    void StopAfterProbe();

    // Window destruction: saves the folder list, ends the thumbnails, the live
    // sessions and the conversions.
    void Shutdown();

    // The conversion queue and its worker, running from construction to Shutdown.
    CConvertQueue& ConvertQueue() { return m_server.ConvertQueue(); }

private:
    void ShutdownRequested() override;
    void ConversionChanged(ConversionChange change, const ConvertInfo_t& job) override;
    void RunStartStop();
    void CarryOutShutdown();

    ICoreView& m_view;
    CVembaServer& m_server;
    CoreHooks m_hooks;
    std::atomic<int> m_lastError { 0 };

    mutable std::mutex m_workerLock;
    std::condition_variable m_idle; // with m_workerLock: the worker has finished
    // --- guarded by m_workerLock
    bool m_busy = false;
    std::thread m_worker;
    // ---

    mutable std::mutex m_rowsLock;
    std::vector<FolderListEntry> m_rows; // guarded by m_rowsLock

    TaskQueue m_actions; // last: its thread ends before the rest goes
};
