#include "dlna/media_server_device.h"

#include "config/trace.h"
#include "dlna/device_description.h"
#include "dlna/media_links.h"
#include "dlna/media_profiles.h"
#include "http/home_network.h"

#include <algorithm>
#include <future>
#include <libgupnp/gupnp.h>
#include <libsoup/soup.h>
#include <map>

namespace {

constexpr unsigned kActionWorkerCount = 2;

struct GFree {
    void operator()(void* pointer) const { g_free(pointer); }
};
using GText = std::unique_ptr<char, GFree>;

} // namespace

struct MediaServerDevice::Loop {
    MediaServerDevice* owner = nullptr;
    DeviceConfig config;
    MediaServerDevice::BrowseHandler browse;
    GMainContext* context = nullptr; // one reference, dropped in the destructor
    GMainLoop* loop = nullptr;
    ActionWorkers* workers = nullptr;
    std::atomic<bool> checkInFlight { false };

    // --- used on the device thread only
    GUPnPContext* upnp = nullptr;
    GUPnPRootDevice* root = nullptr;
    GUPnPService* contentDirectory = nullptr;
    GUPnPService* connectionManager = nullptr;
    std::map<uint64_t, GUPnPServiceAction*> pending; // browses handed to the workers
    uint64_t nextPending = 1;

    ~Loop()
    {
        if (loop)
            g_main_loop_unref(loop);
        if (context)
            g_main_context_unref(context);
    }
};

namespace {

using Loop = MediaServerDevice::Loop;

// M-SEARCH and notifications from outside the home network never reach GUPnP: this
// handler is connected before GUPnP's own and ends the emission for them.
void OnSsdpMessage(GSSDPClient* client, const char* fromAddress, gushort, int, gpointer, gpointer)
{
    if (!fromAddress || !IsHomeNetworkAddress(fromAddress))
        g_signal_stop_emission_by_name(client, "message-received");
}

// GUPnP's HTTP server (description, SOAP, event subscriptions) answers the home
// network only.
void OnHttpRequestRead(SoupServer*, SoupServerMessage* message, gpointer)
{
    const char* host = soup_server_message_get_remote_host(message);
    if (!host || !IsHomeNetworkAddress(host))
        soup_server_message_set_status(message, SOUP_STATUS_FORBIDDEN, "Forbidden");
}

struct BrowseDelivery {
    Loop* loop;
    uint64_t pendingId;
    BrowseAnswer answer;
};

gboolean DeliverBrowse(gpointer data)
{
    auto* delivery = static_cast<BrowseDelivery*>(data);
    Loop* loop = delivery->loop;
    auto found = loop->pending.find(delivery->pendingId);
    if (found == loop->pending.end())
        return G_SOURCE_REMOVE;
    GUPnPServiceAction* action = found->second;
    loop->pending.erase(found);
    const BrowseAnswer& answer = delivery->answer;
    if (answer.error != 0) {
        gupnp_service_action_return_error(action, answer.error, answer.errorText.c_str());
        return G_SOURCE_REMOVE;
    }
    gupnp_service_action_set(action, "Result", G_TYPE_STRING, answer.result.c_str(),
        "NumberReturned", G_TYPE_UINT, answer.numberReturned, "TotalMatches", G_TYPE_UINT,
        answer.totalMatches, "UpdateID", G_TYPE_UINT, loop->owner->SystemUpdateId(), nullptr);
    gupnp_service_action_return_success(action);
    return G_SOURCE_REMOVE;
}

void FreeDelivery(gpointer data)
{
    delete static_cast<BrowseDelivery*>(data);
}

std::string HostAddressOf(Loop* loop)
{
    const char* host = gssdp_client_get_host_ip(GSSDP_CLIENT(loop->upnp));
    return host ? host : "";
}

void OnBrowse(GUPnPService*, GUPnPServiceAction* action, gpointer data)
{
    Loop* loop = static_cast<Loop*>(data);
    char *objectId = nullptr, *flag = nullptr, *filter = nullptr, *sort = nullptr;
    guint start = 0, count = 0;
    gupnp_service_action_get(action, "ObjectID", G_TYPE_STRING, &objectId, "BrowseFlag",
        G_TYPE_STRING, &flag, "Filter", G_TYPE_STRING, &filter, "StartingIndex", G_TYPE_UINT,
        &start, "RequestedCount", G_TYPE_UINT, &count, "SortCriteria", G_TYPE_STRING, &sort,
        nullptr);
    GText ownedId(objectId), ownedFlag(flag), ownedFilter(filter), ownedSort(sort);
    if (!objectId || !flag) {
        gupnp_service_action_return_error(action, kUpnpInvalidArgs, "Invalid Args");
        return;
    }
    BrowseRequest request;
    request.objectId = objectId;
    request.browseFlag = flag;
    request.filter = filter ? filter : "*";
    request.startingIndex = start;
    request.requestedCount = count;
    request.sortCriteria = sort ? sort : "";
    request.mediaBase
        = MediaBaseUrl(HostAddressOf(loop), loop->config.mediaPort ? loop->config.mediaPort() : 0);
    request.rootTitle = loop->config.friendlyName;

    const uint64_t id = loop->nextPending++;
    loop->pending[id] = action;
    // The worker sees only plain values and the loop's context, which outlives it.
    bool posted = loop->workers->Post([loop, id, request = std::move(request)] {
        auto* delivery = new BrowseDelivery { loop, id, loop->browse(request) };
        g_main_context_invoke_full(
            loop->context, G_PRIORITY_DEFAULT, DeliverBrowse, delivery, FreeDelivery);
    });
    if (!posted) {
        loop->pending.erase(id);
        gupnp_service_action_return_error(action, kUpnpCannotProcess, "The server is stopping");
    }
}

void OnGetSystemUpdateId(GUPnPService*, GUPnPServiceAction* action, gpointer data)
{
    Loop* loop = static_cast<Loop*>(data);
    gupnp_service_action_set(action, "Id", G_TYPE_UINT, loop->owner->SystemUpdateId(), nullptr);
    gupnp_service_action_return_success(action);
}

void OnGetSortCapabilities(GUPnPService*, GUPnPServiceAction* action, gpointer)
{
    gupnp_service_action_set(action, "SortCaps", G_TYPE_STRING, kSortCapabilities, nullptr);
    gupnp_service_action_return_success(action);
}

void OnGetSearchCapabilities(GUPnPService*, GUPnPServiceAction* action, gpointer)
{
    gupnp_service_action_set(action, "SearchCaps", G_TYPE_STRING, kSearchCapabilities, nullptr);
    gupnp_service_action_return_success(action);
}

std::string SourceProtocolInfo()
{
    return std::string("http-get:*:video/mp4:*,http-get:*:video/x-matroska:*,")
        + "http-get:*:video/x-msvideo:*,http-get:*:video/mpeg:*,http-get:*:video/quicktime:*,"
        + "http-get:*:video/x-ms-wmv:*,http-get:*:video/x-flv:*,http-get:*:video/3gpp:*,"
        + StreamProtocolInfo() + ",http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_TN,http-get:*:text/srt:*";
}

void OnGetProtocolInfo(GUPnPService*, GUPnPServiceAction* action, gpointer)
{
    const std::string source = SourceProtocolInfo();
    gupnp_service_action_set(
        action, "Source", G_TYPE_STRING, source.c_str(), "Sink", G_TYPE_STRING, "", nullptr);
    gupnp_service_action_return_success(action);
}

void OnGetCurrentConnectionIds(GUPnPService*, GUPnPServiceAction* action, gpointer)
{
    gupnp_service_action_set(action, "ConnectionIDs", G_TYPE_STRING, "0", nullptr);
    gupnp_service_action_return_success(action);
}

void OnGetCurrentConnectionInfo(GUPnPService*, GUPnPServiceAction* action, gpointer)
{
    int connection = -1;
    gupnp_service_action_get(action, "ConnectionID", G_TYPE_INT, &connection, nullptr);
    if (connection != 0) {
        gupnp_service_action_return_error(action, 706, "Invalid connection reference");
        return;
    }
    gupnp_service_action_set(action, "RcsID", G_TYPE_INT, -1, "AVTransportID", G_TYPE_INT, -1,
        "ProtocolInfo", G_TYPE_STRING, "", "PeerConnectionManager", G_TYPE_STRING, "",
        "PeerConnectionID", G_TYPE_INT, -1, "Direction", G_TYPE_STRING, "Output", "Status",
        G_TYPE_STRING, "OK", nullptr);
    gupnp_service_action_return_success(action);
}

void OnQueryContentDirectory(GUPnPService*, char* variable, GValue* value, gpointer data)
{
    Loop* loop = static_cast<Loop*>(data);
    if (g_strcmp0(variable, "SystemUpdateID") == 0) {
        g_value_init(value, G_TYPE_UINT);
        g_value_set_uint(value, loop->owner->SystemUpdateId());
    }
}

void OnQueryConnectionManager(GUPnPService*, char* variable, GValue* value, gpointer)
{
    g_value_init(value, G_TYPE_STRING);
    if (g_strcmp0(variable, "SourceProtocolInfo") == 0)
        g_value_set_string(value, SourceProtocolInfo().c_str());
    else if (g_strcmp0(variable, "CurrentConnectionIDs") == 0)
        g_value_set_string(value, "0");
    else
        g_value_set_string(value, "");
}

gboolean NotifyUpdateId(gpointer data)
{
    Loop* loop = static_cast<Loop*>(data);
    if (loop->contentDirectory)
        gupnp_service_notify(loop->contentDirectory, "SystemUpdateID", G_TYPE_UINT,
            loop->owner->SystemUpdateId(), nullptr);
    return G_SOURCE_REMOVE;
}

// Asks a worker whether a shared folder changed; one question at a time.
gboolean CheckForChanges(gpointer data)
{
    Loop* loop = static_cast<Loop*>(data);
    if (loop->config.sharesChanged && !loop->checkInFlight.exchange(true)) {
        if (!loop->workers->Post([loop] {
                if (loop->config.sharesChanged())
                    loop->owner->BumpSystemUpdateId();
                loop->checkInFlight = false;
            }))
            loop->checkInFlight = false;
    }
    return G_SOURCE_CONTINUE;
}

gboolean QuitLoop(gpointer data)
{
    g_main_loop_quit(static_cast<GMainLoop*>(data));
    return G_SOURCE_REMOVE;
}

GUPnPService* FindService(GUPnPRootDevice* root, const char* type)
{
    GUPnPServiceInfo* info = gupnp_device_info_get_service(GUPNP_DEVICE_INFO(root), type);
    return info ? GUPNP_SERVICE(info) : nullptr;
}

template <typename Handler>
void Connect(GUPnPService* service, const char* signal, Handler handler, Loop* loop)
{
    g_signal_connect(service, signal, G_CALLBACK(handler), loop);
}

bool BuildDevice(Loop* loop, std::string& error)
{
    GError* failure = nullptr;
    if (loop->config.address.empty()) {
        loop->upnp = gupnp_context_new_full(nullptr, nullptr, 0, GSSDP_UDA_VERSION_1_0, &failure);
    } else {
        GInetAddress* address = g_inet_address_new_from_string(loop->config.address.c_str());
        if (!address) {
            error = "not an address: " + loop->config.address;
            return false;
        }
        loop->upnp = gupnp_context_new_for_address(address, 0, GSSDP_UDA_VERSION_1_0, &failure);
        g_object_unref(address);
    }
    if (!loop->upnp) {
        error = failure ? failure->message : "GUPnP could not start";
        g_clear_error(&failure);
        return false;
    }
    // Before the device exists, so these run ahead of GUPnP's own handlers.
    g_signal_connect(loop->upnp, "message-received", G_CALLBACK(OnSsdpMessage), nullptr);
    g_signal_connect(gupnp_context_get_server(loop->upnp), "request-read",
        G_CALLBACK(OnHttpRequestRead), nullptr);

    loop->root = gupnp_root_device_new(
        loop->upnp, kDescriptionFile, loop->config.documentFolder.c_str(), &failure);
    if (!loop->root) {
        error = failure ? failure->message : "GUPnP could not make the device";
        g_clear_error(&failure);
        return false;
    }
    loop->contentDirectory = FindService(loop->root, kContentDirectoryType);
    loop->connectionManager = FindService(loop->root, kConnectionManagerType);
    if (!loop->contentDirectory || !loop->connectionManager) {
        error = "the device description lacks a service";
        return false;
    }
    GUPnPService* cds = loop->contentDirectory;
    Connect(cds, "action-invoked::Browse", OnBrowse, loop);
    Connect(cds, "action-invoked::GetSystemUpdateID", OnGetSystemUpdateId, loop);
    Connect(cds, "action-invoked::GetSortCapabilities", OnGetSortCapabilities, loop);
    Connect(cds, "action-invoked::GetSearchCapabilities", OnGetSearchCapabilities, loop);
    Connect(cds, "query-variable", OnQueryContentDirectory, loop);
    GUPnPService* cm = loop->connectionManager;
    Connect(cm, "action-invoked::GetProtocolInfo", OnGetProtocolInfo, loop);
    Connect(cm, "action-invoked::GetCurrentConnectionIDs", OnGetCurrentConnectionIds, loop);
    Connect(cm, "action-invoked::GetCurrentConnectionInfo", OnGetCurrentConnectionInfo, loop);
    Connect(cm, "query-variable", OnQueryConnectionManager, loop);
    gupnp_root_device_set_available(loop->root, TRUE);
    return true;
}

// On the device thread, after its loop: the actions still waiting get an error, and
// freeing the root device sends the byebyes (GSSDP sends what it has queued when its
// resource group goes).
void TearDown(Loop* loop)
{
    for (auto& [id, action] : loop->pending)
        gupnp_service_action_return_error(action, kUpnpCannotProcess, "The server is stopping");
    loop->pending.clear();
    if (loop->root)
        gupnp_root_device_set_available(loop->root, FALSE);
    g_clear_object(&loop->contentDirectory);
    g_clear_object(&loop->connectionManager);
    g_clear_object(&loop->root);
    g_clear_object(&loop->upnp);
}

} // namespace

MediaServerDevice::MediaServerDevice(BrowseHandler browse)
    : m_browse(std::move(browse))
{
}

MediaServerDevice::~MediaServerDevice()
{
    Stop();
}

bool MediaServerDevice::Start(const DeviceConfig& config, std::string& error)
{
    Stop();
    if (!WriteDeviceDocuments(config.documentFolder, config.friendlyName, config.udn)) {
        error = "cannot write the device description into " + config.documentFolder;
        return false;
    }
    m_workers = std::make_unique<ActionWorkers>(kActionWorkerCount);
    auto loop = std::make_shared<Loop>();
    loop->owner = this;
    loop->config = config;
    loop->browse = m_browse;
    loop->workers = m_workers.get();
    loop->context = g_main_context_new();
    loop->loop = g_main_loop_new(loop->context, FALSE);

    std::promise<std::string> started;
    std::future<std::string> result = started.get_future();
    m_thread = std::thread([this, loop, &started] {
        g_main_context_push_thread_default(loop->context);
        std::string failure;
        if (BuildDevice(loop.get(), failure)) {
            {
                std::lock_guard lock(m_lock);
                m_hostAddress = HostAddressOf(loop.get());
                // Where GUPnP announces the description (it names the file after the UDN).
                m_descriptionUrl = gupnp_device_info_get_location(GUPNP_DEVICE_INFO(loop->root));
            }
            GSource* check
                = g_timeout_source_new_seconds(std::max(1u, loop->config.changeCheckSeconds));
            g_source_set_callback(check, CheckForChanges, loop.get(), nullptr);
            g_source_attach(check, loop->context);
            started.set_value(std::string());
            g_main_loop_run(loop->loop);
            g_source_destroy(check);
            g_source_unref(check);
        } else {
            started.set_value(failure);
        }
        TearDown(loop.get());
        g_main_context_pop_thread_default(loop->context);
    });
    error = result.get();
    if (!error.empty()) {
        m_thread.join();
        m_workers.reset();
        TraceMessage(kTraceWebFailure, "DLNA : device not started: %s", error.c_str());
        return false;
    }
    {
        std::lock_guard lock(m_lock);
        m_loop = loop;
    }
    m_running = true;
    TraceMessage(kTraceRequest, "DLNA : MediaServer announced at %s", DescriptionUrl().c_str());
    return true;
}

void MediaServerDevice::Stop()
{
    std::shared_ptr<Loop> loop;
    {
        std::lock_guard lock(m_lock);
        loop = std::move(m_loop);
        m_hostAddress.clear();
        m_descriptionUrl.clear();
    }
    m_running = false;
    if (loop)
        g_main_context_invoke(loop->context, QuitLoop, loop->loop);
    if (m_thread.joinable())
        m_thread.join();
    // The workers finish the task in hand; what they post then waits in the
    // context, which nobody runs any more and which goes with the loop.
    if (m_workers)
        m_workers->Stop();
    m_workers.reset();
    if (loop)
        TraceMessage(kTraceRequest, "DLNA : MediaServer stopped");
}

std::string MediaServerDevice::HostAddress() const
{
    std::lock_guard lock(m_lock);
    return m_hostAddress;
}

std::string MediaServerDevice::DescriptionUrl() const
{
    std::lock_guard lock(m_lock);
    return m_descriptionUrl;
}

void MediaServerDevice::BumpSystemUpdateId()
{
    ++m_updateId;
    std::shared_ptr<Loop> loop;
    {
        std::lock_guard lock(m_lock);
        loop = m_loop;
    }
    if (loop)
        g_main_context_invoke(loop->context, NotifyUpdateId, loop.get());
}
