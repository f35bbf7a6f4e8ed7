#include "core/core_controller.h"

#include "config/app_messages.h"
#include "config/trace.h"
#include "core/library_hooks.h"
#include "core/session_hooks.h"
#include "core/shutdown_command.h"
#include "core/web_server_hooks.h"
#include "platform/adapters.h"
#include "platform/places.h"
#include "remote/setting_defaults.h"

#include <chrono>

namespace {

constexpr auto kWaitStep = std::chrono::milliseconds(10);

} // namespace

CoreHooks DefaultCoreHooks()
{
    CoreHooks hooks;
    hooks.server = DefaultWebServerHooks();
    hooks.shutdownComputer = [] { return RunShutdownCommand(); };
    AddSessionHooks(hooks);
    AddLibraryHooks(hooks);
    return hooks;
}

CCoreController::CCoreController(ICoreView& view, CoreHooks hooks)
    : m_view(view)
    , m_hooks(std::move(hooks))
    , m_server(m_hooks.server, DefaultWebServerConfig())
{
    m_convertQueue.Start();
}

CCoreController::~CCoreController()
{
    std::lock_guard lock(m_workerLock);
    if (m_worker.joinable())
        m_worker.join();
}

bool CCoreController::StartEmbeddedConsole()
{
    return StartEmbeddedConsoleIfNeeded(m_console);
}

void CCoreController::FillSettingDefaults()
{
    std::vector<std::string> addresses;
    std::vector<std::string> descriptions;
    std::vector<std::string> hardwareAddresses;
    ListAdapters(addresses, descriptions, hardwareAddresses);
    ::FillSettingDefaults(addresses, hardwareAddresses);
}

void CCoreController::LoadFolderList()
{
    std::vector<FolderListEntry> rows = LoadFolderListFile();
    if (m_hooks.registerSharedFolder) {
        for (const FolderListEntry& entry : rows)
            m_hooks.registerSharedFolder(entry);
    }
    std::lock_guard lock(m_rowsLock);
    m_rows = std::move(rows);
}

bool CCoreController::CreateServicesFolder()
{
    std::string services = GetServicesFolder();
    if (services.empty())
        return false;
    CreateFolderPath(services);
    return FileExists(services);
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
    return SaveFolderListFile(Rows());
}

bool CCoreController::IsServerRunning() const
{
    return IsWebServerRunning();
}

int CCoreController::LastServerError() const
{
    return m_lastError;
}

bool CCoreController::StartStopServer()
{
    std::lock_guard lock(m_workerLock);
    bool expected = false;
    if (!m_busy.compare_exchange_strong(expected, true))
        return false;
    // A finished worker may still need joining before its thread object is reused.
    if (m_worker.joinable())
        m_worker.join();
    veneta::CPXFrameMSG::Send(veneta::kFrameMessageBox, veneta::kWmCommand, veneta::kIdCancel);
    m_view.ShowProgress(IsServerRunning() ? "IDS_WORD_BTN_STOPSERVER" : "IDS_WORD_BTN_STARTSERVER");
    m_worker = std::thread([this] { RunStartStop(); });
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
            if (m_hooks.startThumbnails)
                m_hooks.startThumbnails();
            m_view.ServerStateChanged(true);
            m_view.CloseProgress();
        } else {
            m_lastError = m_server.m_nLastError;
            m_view.CloseProgress();
            veneta::CPXFrameMSG::Post(veneta::kFrameMainWindow, WM_APP_SERVER_ERROR,
                static_cast<veneta::WParam>(m_server.m_nLastError));
        }
    } catch (...) {
        TraceMessage(kTraceWebFailure, "Web Server - start/stop worker failed");
        m_view.CloseProgress();
    }
    m_busy = false;
}

void CCoreController::WaitWhileBusy()
{
    while (m_busy) {
        m_view.PumpMessages();
        std::this_thread::sleep_for(kWaitStep);
    }
}

void CCoreController::StopServerAndWait()
{
    WaitWhileBusy();
    if (IsServerRunning())
        StartStopServer();
    while (IsServerRunning() || m_busy) {
        m_view.PumpMessages();
        std::this_thread::sleep_for(kWaitStep);
    }
}

veneta::LResult CCoreController::HandleMessage(
    veneta::MessageId message, veneta::WParam wParam, veneta::LParam lParam)
{
    switch (message) {
    case WM_APP_ENC_COMPLETE:
    case WM_APP_ENC_ERROR:
        if (lParam != 0 && m_hooks.engineNotice)
            m_hooks.engineNotice(message, lParam);
        return 0;
    case WM_APP_SERVER_ERROR: {
        int code = static_cast<int>(wParam);
        if (const char* key = ServerErrorTextKey(code))
            m_view.ShowServerError(code, key);
        return 0;
    }
    case WM_APP_SHUTDOWN_PC:
        StopServerAndWait();
        if (m_hooks.shutdownComputer)
            m_hooks.shutdownComputer();
        return 0;
    default:
        return 0;
    }
}

void CCoreController::Shutdown()
{
    SaveFolderList();
    if (m_hooks.stopThumbnailPool)
        m_hooks.stopThumbnailPool();
    if (m_hooks.endSessions)
        m_hooks.endSessions();
    if (m_hooks.cancelConversions)
        m_hooks.cancelConversions();
    // A running conversion is cancelled and its partial output deleted; waiting jobs
    // are dropped.
    m_convertQueue.Stop();
}
