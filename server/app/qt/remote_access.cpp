#include "remote_access.h"

#include "app_messages.h"
#include "remote/pin_sync.h"
#include "remote/remote_context.h"

CRemoteAccess::CRemoteAccess(RemoteContext& server)
    : m_server(server)
{
}

CRemoteAccess::~CRemoteAccess()
{
    m_cancel = true;
    WaitForMapping();
}

void CRemoteAccess::WaitForMapping()
{
    std::thread last;
    {
        std::lock_guard lock(m_mappingLock);
        last = std::move(m_mapping);
    }
    if (last.joinable())
        last.join(); // outside the lock: the worker never takes it, but nobody waits holding it
}

int CRemoteAccess::RunStartupCheck()
{
    CRelayServer relay = m_server.Relay(&m_cancel);
    return ::RunStartupCheck(
        m_server.Settings(), relay, m_server.Gateway(), m_server.WebServer().ListeningPort());
}

UpdateCheck CRemoteAccess::RunUpdateCheck()
{
    CRelayServer relay = m_server.Relay(&m_cancel);
    return ::RunUpdateCheck(m_server.Settings(), relay, VEMBACAST_VERSION_TEXT);
}

bool CRemoteAccess::SyncPinCode(const std::string& hardwareAddress)
{
    return m_server.SyncPin(hardwareAddress, &m_cancel);
}

void CRemoteAccess::UpdatePinCode(bool on)
{
    CRelayServer relay = m_server.Relay(&m_cancel);
    ReportPinMode(m_server.Settings(), relay, on);
}

void CRemoteAccess::StartPortMapping(
    const MappingRequest& request, std::function<void(const MappingOutcome&)> done)
{
    // Two workers at once would race on the settings: the last one ends first. Its
    // outcome only posts to the GUI thread, so waiting for it here cannot deadlock.
    WaitForMapping();
    std::lock_guard lock(m_mappingLock);
    m_mapping = std::thread([this, request, done = std::move(done)] {
        MappingOutcome outcome = RunMappingWorker(request, m_server, &m_cancel);
        PostMappingOutcome(outcome);
        if (done)
            done(outcome);
    });
}

void PostMappingOutcome(const MappingOutcome& outcome)
{
    if (outcome.serverError == kServerErrorNoUpnpDevice)
        veneta::CPXFrameMSG::Post(veneta::kFrameMainWindow, WM_APP_SERVER_ERROR,
            static_cast<veneta::WParam>(outcome.serverError), 0);
    else if (outcome.serverError == kServerErrorNoExternalAccess)
        veneta::CPXFrameMSG::Post(kFrameSettingsDialog, WM_APP_SERVER_ERROR,
            static_cast<veneta::WParam>(outcome.serverError), 0);
}
