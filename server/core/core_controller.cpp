#include "core/core_controller.h"

#include "config/settings_store.h"
#include "config/trace.h"
#include "core/server_errors.h"
#include "core/shutdown_command.h"
#include "platform/adapters.h"
#include "remote/setting_defaults.h"

#include <chrono>

namespace {

constexpr auto kPumpStep = std::chrono::milliseconds(10);

} // namespace

CCoreController::CCoreController(ICoreView& view, CVembaServer& server, CoreHooks hooks)
    : m_view(view)
    , m_server(server)
    , m_hooks(std::move(hooks))
{
    m_server.SetEvents(this);
}

CCoreController::~CCoreController()
{
    m_server.SetEvents(nullptr);
    m_actions.Stop();
    std::thread worker;
    {
        std::lock_guard lock(m_workerLock);
        worker = std::move(m_worker);
    }
    if (worker.joinable())
        worker.join();
}

bool CCoreController::StartEmbeddedConsole()
{
    return StartEmbeddedConsoleIfNeeded(m_server.Settings(), m_server.EmbeddedConsole());
}

void CCoreController::FillSettingDefaults()
{
    std::vector<std::string> addresses;
    std::vector<std::string> descriptions;
    std::vector<std::string> hardwareAddresses;
    ListAdapters(addresses, descriptions, hardwareAddresses);
    ::FillSettingDefaults(m_server, addresses, hardwareAddresses);
}

void CCoreController::LoadFolderList()
{
    std::vector<FolderListEntry> rows = m_server.Settings().LoadFolderList();
    m_server.RegisterSharedFolders(rows);
    std::lock_guard lock(m_rowsLock);
    m_rows = std::move(rows);
}

bool CCoreController::CreateServicesFolder()
{
    return m_server.CreateServicesFolder();
}

std::vector<FolderListEntry> CCoreController::Rows() const
{
    std::lock_guard lock(m_rowsLock);
    return m_rows;
}

void CCoreController::SetRows(std::vector<FolderListEntry> rows)
{
    std::lock_guard lock(m_rowsLock);
    m_rows = std::move(rows);
}

bool CCoreController::SaveFolderList() const
{
    return m_server.Settings().SaveFolderList(Rows());
}

bool CCoreController::IsServerRunning() const
{
    return m_server.WebServer().IsRunning();
}

bool CCoreController::IsWorkerBusy() const
{
    std::lock_guard lock(m_workerLock);
    return m_busy;
}

int CCoreController::LastServerError() const
{
    return m_lastError;
}

bool CCoreController::StartStopServer()
{
    std::thread finished;
    {
        std::lock_guard lock(m_workerLock);
        if (m_busy)
            return false;
        m_busy = true;
        finished = std::move(m_worker);
    }
    // The worker before has left already (it cleared the busy flag last); joining it
    // takes no time, and no lock is held meanwhile.
    if (finished.joinable())
        finished.join();
    m_view.DismissMessages();
    m_view.ShowProgress(IsServerRunning() ? "IDS_WORD_BTN_STOPSERVER" : "IDS_WORD_BTN_STARTSERVER");
    std::thread worker([this] { RunStartStop(); });
    std::lock_guard lock(m_workerLock);
    m_worker = std::move(worker);
    return true;
}

void CCoreController::RunStartStop()
{
    try {
        if (IsServerRunning()) {
            m_server.Stop();
            m_view.ServerStateChanged(false);
            m_view.CloseProgress();
        } else if (m_server.Start()) {
            m_view.ServerStateChanged(true);
            m_view.CloseProgress();
        } else {
            const int code = m_server.WebServer().m_nLastError;
            m_lastError = code;
            m_view.CloseProgress();
            if (const char* key = ServerErrorTextKey(code))
                m_view.ShowServerError(code, key);
        }
    } catch (...) {
        TraceMessage(kTraceWebFailure, "Web Server - start/stop worker failed");
        m_view.CloseProgress();
    }
    {
        std::lock_guard lock(m_workerLock);
        m_busy = false;
    }
    m_idle.notify_all();
}

void CCoreController::WaitWhileBusy(WhileWaiting waiting)
{
    std::unique_lock lock(m_workerLock);
    while (m_busy) {
        if (waiting == WhileWaiting::Block) {
            m_idle.wait(lock, [&] { return !m_busy; });
            break;
        }
        // A window thread keeps drawing, and answers the worker's calls, meanwhile.
        lock.unlock();
        m_view.PumpMessages();
        lock.lock();
        m_idle.wait_for(lock, kPumpStep, [&] { return !m_busy; });
    }
}

bool CCoreController::StartForProbe()
{
    WaitWhileBusy(WhileWaiting::Pump);
    {
        std::lock_guard lock(m_workerLock);
        if (m_busy || IsServerRunning())
            return false;
        m_busy = true; // no start/stop command meanwhile
    }
    const bool started = m_server.Start();
    {
        std::lock_guard lock(m_workerLock);
        m_busy = false;
    }
    m_idle.notify_all();
    if (started)
        m_view.ServerStateChanged(true);
    return started;
}

void CCoreController::StopAfterProbe()
{
    WaitWhileBusy(WhileWaiting::Pump);
    {
        std::lock_guard lock(m_workerLock);
        if (m_busy)
            return;
        m_busy = true;
    }
    const bool stopped = m_server.Stop();
    {
        std::lock_guard lock(m_workerLock);
        m_busy = false;
    }
    m_idle.notify_all();
    if (stopped)
        m_view.ServerStateChanged(false);
}

void CCoreController::StopServerAndWait(WhileWaiting waiting)
{
    WaitWhileBusy(waiting);
    if (IsServerRunning())
        StartStopServer();
    WaitWhileBusy(waiting);
}

void CCoreController::ShutdownRequested()
{
    // On an HTTP worker: the stop would wait for this very worker, so it runs on the
    // action thread.
    m_actions.Post([this] { CarryOutShutdown(); });
}

void CCoreController::CarryOutShutdown()
{
    StopServerAndWait(WhileWaiting::Block);
    bool done = m_hooks.shutdownComputer ? m_hooks.shutdownComputer()
                                         : RunShutdownCommand(m_server.ShutdownCommand());
    m_view.ServerShutDown(done);
}

void CCoreController::ConversionChanged(ConversionChange change, const ConvertInfo_t& job)
{
    m_view.ConversionChanged(change, job);
}

void CCoreController::Shutdown()
{
    SaveFolderList();
    m_server.Thumbnails().QZ_StopThumbnailThreads();
    m_server.Thumbnails().ReapShareThumbnailKickOff();
    m_server.Sessions().QZ_FreeClientInfoList();
    // A running conversion is stopped and its partial output deleted; the job store
    // keeps every job for the next start.
    m_server.ConvertQueue().Stop();
}
