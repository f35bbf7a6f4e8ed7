#include "core/vemba_server.h"

#include "core/request_table.h"
#include "library/one_time_list_files.h"

CVembaServer::CVembaServer(ServerParts parts, RemoteParts remote, ConvertQueueTiming timing)
    : DlnaContext(std::move(parts), std::move(remote), timing)
{
    ConvertQueue().SetObserver([this](ConversionChange change, const ConvertInfo_t& job) {
        IServerEvents* events = nullptr;
        {
            std::lock_guard lock(m_eventsLock);
            events = m_events;
        }
        if (events)
            events->ConversionChanged(change, job);
    });
    ConvertQueue().Start();
    ConfigureWebServer();
}

CVembaServer::~CVembaServer()
{
    StopNotices();
    StopDlna();
    WebServer().Stop();
    WebServer().Configure({}, {});
}

void CVembaServer::ConfigureWebServer()
{
    WebServerHooks hooks;
    hooks.releaseSessions = [this] { Sessions().QZ_FreeClientInfoList(); };
    hooks.forgetWorkFolders = [this] { WorkFolders().ForgetAllWorkFolders(); };
    hooks.clearWorkFolders = [this] { WorkFolders().ClearRememberedWorkFolders(); };
    hooks.removeListFiles = [this] { RemoveLeftoverListFiles(*this); };
    hooks.sweepLeftovers = [this] {
        WorkFolders().SweepSessionWorkFolders();
        RemoveLeftoverListFiles(*this);
    };
    WebServerConfig config;
    config.routes = BuildRoutes(*this);
    WebServer().Configure(std::move(hooks), std::move(config));
}

void CVembaServer::SetEvents(IServerEvents* events)
{
    std::lock_guard lock(m_eventsLock);
    m_events = events;
}

void CVembaServer::RequestShutdown()
{
    IServerEvents* events = nullptr;
    {
        std::lock_guard lock(m_eventsLock);
        events = m_events;
    }
    if (events)
        events->ShutdownRequested();
}

bool CVembaServer::Start()
{
    if (!WebServer().Start())
        return false;
    StartDlna();
    // Both return at once: the collecting, the making and the console request run in
    // the background, so the start is reported without waiting for pictures or for
    // the console.
    Thumbnails().QZ_StartShareThumbnails();
    Index().Start();
    ExternalAddress().Request();
    return true;
}

bool CVembaServer::Stop()
{
    // Before the front stops: its streams end, and no screen is told of a server
    // that is going.
    StopDlna();
    return WebServer().Stop();
}

void CVembaServer::RegisterSharedFolders(const std::vector<FolderListEntry>& folders)
{
    for (const FolderListEntry& entry : folders)
        SharedFolders().AddSharedFolder(entry.path, entry.displayName);
}

bool CVembaServer::CreateServicesFolder()
{
    std::string services = Places().ServicesFolder();
    if (services.empty())
        return false;
    CreateFolderPath(services);
    return FileExists(services);
}
