#pragma once

// The server object: one running VembaCast server, made by the daemon or the desktop
// application from the parts it is given (data folder and places, settings store,
// clock, process spawner, console transport, UPnP gateway) and owning everything the
// server keeps while it runs: sessions and client ids, work folders, the engines and
// their census, thumbnails, list files, the direct-play table, the media cache, the
// shared folders, password attempts, the conversion queue, the embedded console, and
// the HTTP front with its request table, whose handlers are bound to this object.
// Nothing of it is process-wide, so two servers run side by side in one process.
//
// It is built in layers, one per folder of the server (see
// enginectl/engine_context.h); each handler receives it as its own folder's layer.
//
// Threads: Start and Stop come from one caller at a time (the core controller's
// worker); the parts order their own threads. The program around the server hears of
// what it must act on through IServerEvents, called on server threads.

#include "config/settings.h"
#include "dlna/dlna_context.h"

#include <vector>

class IServerEvents {
public:
    virtual ~IServerEvents() = default;
    // A client of the home network asked to power the computer off; its answer has
    // gone out. Called on an HTTP worker: hand it to another thread, since stopping
    // the server from here would wait for this very worker.
    virtual void ShutdownRequested() = 0;
    // A conversion job was added, progressed, changed state or was deleted.
    virtual void ConversionChanged(ConversionChange change, const ConvertInfo_t& job) = 0;
};

class CVembaServer final : public DlnaContext {
public:
    explicit CVembaServer(
        ServerParts parts, RemoteParts remote = {}, ConvertQueueTiming timing = {});
    // The web server stops with its hooks first, then each layer from the top down.
    ~CVembaServer() override;

    // Set before the first start; null: nobody listens.
    void SetEvents(IServerEvents* events);

    // Starts the HTTP front and announces the television device (when "DlnaServer"
    // allows it); then thumbnail making for every share and a request of the external
    // address go on in the background. False with the code in
    // WebServer().m_nLastError.
    bool Start();
    // Takes the television device off the network and stops the HTTP front,
    // releasing every session. False (code 6) when none ran.
    bool Stop();

    // The folders of the folder list become the shared folders.
    void RegisterSharedFolders(const std::vector<FolderListEntry>& folders);
    // The services folder with all its parents; false when there is no data folder.
    bool CreateServicesFolder();

    // The events of a client's power-off request, for its handler.
    void RequestShutdown();

private:
    void ConfigureWebServer();

    std::mutex m_eventsLock;
    IServerEvents* m_events = nullptr; // guarded by m_eventsLock
};
