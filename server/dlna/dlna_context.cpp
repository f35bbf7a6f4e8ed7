#include "dlna/dlna_context.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/trace.h"
#include "dlna/dlna_settings.h"
#include "dlna/object_ids.h"

DlnaContext::DlnaContext(ServerParts parts, RemoteParts remote, ConvertQueueTiming timing)
    : RemoteContext(std::move(parts), std::move(remote), timing)
    , m_catalog(*this)
    , m_changes(SharedFolders())
    , m_streams(*this)
    , m_device([this](const BrowseRequest& request) { return BrowseShares(request); })
{
}

DlnaContext::~DlnaContext()
{
    StopDlna();
}

BrowseAnswer DlnaContext::BrowseShares(const BrowseRequest& request)
{
    BrowseAnswer answer = Browse(m_catalog, request);
    if (answer.error == 0 && request.browseFlag == "BrowseDirectChildren"
        && request.objectId != kRootObjectId) {
        if (std::optional<CatalogObject> folder = m_catalog.Resolve(request.objectId))
            m_changes.Note(folder->diskPath);
    }
    return answer;
}

bool DlnaContext::StartDlna()
{
    if (!IsDlnaServerOn(Settings())) {
        TraceMessage(kTraceRequest, "DLNA : switched off");
        return false;
    }
    const std::string udn = DlnaDeviceUdn(Settings());
    std::string services = Places().ServicesFolder();
    if (services.empty() || udn.empty())
        return false;
    DeviceConfig config;
    config.address = Settings().ReadText(kKeyInIP);
    config.friendlyName = DlnaFriendlyName(Settings());
    config.udn = udn;
    config.documentFolder = services + "/upnp-device";
    config.mediaPort = [this] { return WebServer().ListeningPort(); };
    config.sharesChanged = [this] { return m_changes.Changed(); };
    m_changes.Changed(); // the first look: what is there now counts as seen
    m_streams.Open();
    std::string error;
    if (!m_device.Start(config, error)) {
        TraceMessage(kTraceWebFailure, "DLNA : %s", error.c_str());
        return false;
    }
    return true;
}

void DlnaContext::StopDlna()
{
    m_streams.CancelAll();
    m_device.Stop();
}
