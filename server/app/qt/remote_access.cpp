#include "remote_access.h"

#include "remote/pin_sync.h"
#include "remote/relay_server.h"

CRemoteAccess::CRemoteAccess(NetworkSeams seams)
    : m_seams(seams)
{
}

CRemoteAccess::~CRemoteAccess()
{
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
    CRelayServer relay(m_seams.transport);
    return ::RunStartupCheck(relay, m_seams.mapper);
}

UpdateCheck CRemoteAccess::RunUpdateCheck()
{
    CRelayServer relay(m_seams.transport);
    return ::RunUpdateCheck(relay, VEMBACAST_VERSION_TEXT);
}

bool CRemoteAccess::SyncPinCode(const std::string& hardwareAddress)
{
    CRelayServer relay(m_seams.transport);
    return ::SyncPinCode(relay, hardwareAddress);
}

void CRemoteAccess::UpdatePinCode(bool on)
{
    CRelayServer relay(m_seams.transport);
    ReportPinMode(relay, on);
}

void CRemoteAccess::StartPortMapping(
    const MappingRequest& request, std::function<void(const MappingOutcome&)> done)
{
    // Two workers at once would race on the settings: the last one ends first. Its
    // outcome only posts to the GUI thread, so waiting for it here cannot deadlock.
    WaitForMapping();
    NetworkSeams seams = m_seams;
    std::lock_guard lock(m_mappingLock);
    m_mapping = std::thread([request, seams, done = std::move(done)] {
        MappingOutcome outcome = RunMappingWorker(request, seams);
        PostMappingOutcome(outcome);
        if (done)
            done(outcome);
    });
}
