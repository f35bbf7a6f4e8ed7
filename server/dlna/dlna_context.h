#pragma once

// The server as televisions see it: the layer of the server object that owns the
// UPnP AV MediaServer device, the catalog of the shares it browses, the watch for
// changed folders and the transcoded streams (see enginectl/engine_context.h for how
// the layers of the server object stack). It sits right below the core, which
// starts and stops it with the server.

#include "dlna/dlna_streams.h"
#include "dlna/media_catalog.h"
#include "dlna/media_server_device.h"
#include "dlna/share_changes.h"
#include "remote/remote_context.h"

class DlnaContext : public RemoteContext {
public:
    DlnaContext(ServerParts parts, RemoteParts remote, ConvertQueueTiming timing = {});
    ~DlnaContext() override; // StopDlna

    MediaServerDevice& Device() { return m_device; }
    MediaCatalog& Catalog() { return m_catalog; }
    DlnaStreams& Streams() { return m_streams; }

    // Announces the device when the setting "DlnaServer" allows it (server start,
    // after the HTTP front runs); false when it is switched off or GUPnP could not
    // start (traced; the server runs on without it).
    bool StartDlna();
    // Ends the streams and takes the device off the network (server stop, before the
    // HTTP front stops).
    void StopDlna();
    // True while the device runs: its media requests are answered only then.
    bool IsDlnaServing() const { return m_device.IsRunning(); }

    // A ContentDirectory Browse (on the device's workers).
    BrowseAnswer BrowseShares(const BrowseRequest& request);

private:
    MediaCatalog m_catalog;
    ShareChanges m_changes;
    DlnaStreams m_streams;
    MediaServerDevice m_device; // last: its threads end before what they use goes
};
