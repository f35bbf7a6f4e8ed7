#pragma once

// The UPnP AV MediaServer:1 device on GUPnP: SSDP announcements (alive at start and
// on renewal, answers to M-SEARCH, byebye at stop), the description and the
// services' SOAP and GENA over GUPnP's own HTTP server, on the one adapter the
// server uses. The media themselves are served by the server's HTTP front.
//
// Threads. GUPnP runs on a GLib main loop: the device has a thread of its own with
// a GMainContext of its own, on which every GUPnP object is made, used and freed.
// A SOAP action arrives there; the quick ones are answered at once, a Browse is
// handed to ActionWorkers with plain values and its GUPnP action is kept aside on
// the device thread; when the worker is done it posts the answer back to that
// context (g_main_context_invoke), where the action is answered. Nothing of GUPnP
// is touched off the device thread, and no lock of this class is held across a
// browse. Start and Stop come from one caller at a time (the server's start and
// stop); Stop ends the loop, answers the actions still pending with an error,
// frees the device (which sends the byebyes) and joins the thread and the workers.
//
// Only the home network is answered: M-SEARCH from other addresses is dropped
// before GUPnP sees it, and GUPnP's HTTP server refuses other addresses (403).

#include "dlna/action_workers.h"
#include "dlna/content_directory.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct DeviceConfig {
    std::string address; // the adapter's IPv4 address; empty: GUPnP picks one
    std::string friendlyName;
    std::string udn;
    std::string documentFolder; // the description and service documents go here
    std::function<int()> mediaPort; // the HTTP front's port, asked at each browse
    // Every so often the device asks whether a shared folder changed (on a worker);
    // a yes bumps SystemUpdateID. Empty: never asked.
    std::function<bool()> sharesChanged;
    unsigned changeCheckSeconds = 5;
};

class MediaServerDevice {
public:
    using BrowseHandler = std::function<BrowseAnswer(const BrowseRequest&)>;

    explicit MediaServerDevice(BrowseHandler browse);
    ~MediaServerDevice(); // Stop
    MediaServerDevice(const MediaServerDevice&) = delete;
    MediaServerDevice& operator=(const MediaServerDevice&) = delete;

    // Announces the device; false with a reason when GUPnP could not start on the
    // address. A running device is stopped first.
    bool Start(const DeviceConfig& config, std::string& error);
    void Stop();
    bool IsRunning() const { return m_running.load(); }

    // The address it is announced on and the URL of its description (empty while
    // stopped).
    std::string HostAddress() const;
    std::string DescriptionUrl() const;

    uint32_t SystemUpdateId() const { return m_updateId.load(); }
    // A shared folder changed: SystemUpdateID goes up and subscribers hear of it.
    void BumpSystemUpdateId();

    struct Loop; // the device thread's GLib and GUPnP objects (media_server_device.cpp)

private:
    void Run(DeviceConfig config);

    const BrowseHandler m_browse;
    std::atomic<bool> m_running { false };
    std::atomic<uint32_t> m_updateId { 1 };

    mutable std::mutex m_lock;
    // --- guarded by m_lock
    std::shared_ptr<Loop> m_loop; // set while the device thread runs
    std::string m_hostAddress;
    std::string m_descriptionUrl;
    // ---
    std::thread m_thread; // Start and Stop only
    std::unique_ptr<ActionWorkers> m_workers; // Start and Stop only
};
