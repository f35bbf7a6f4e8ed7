#pragma once

// The ContentDirectory's actions as server code: plain values in, plain values out,
// no UPnP stack. The device (media_server_device.h) hands each SOAP action over to
// a worker that calls these, so a slow folder never holds up discovery or another
// screen's request.

#include <cstdint>
#include <string>

class MediaCatalog;

// UPnP error codes of Browse.
inline constexpr int kUpnpInvalidArgs = 402;
inline constexpr int kUpnpNoSuchObject = 701;
inline constexpr int kUpnpInvalidSort = 709;
inline constexpr int kUpnpCannotProcess = 720;

// What a screen may sort by, and search by (nothing).
inline constexpr const char* kSortCapabilities = "dc:title,dc:date";
inline constexpr const char* kSearchCapabilities = "";

struct BrowseRequest {
    std::string objectId;
    std::string browseFlag; // "BrowseMetadata" or "BrowseDirectChildren"
    std::string filter;
    uint32_t startingIndex = 0;
    uint32_t requestedCount = 0; // 0: all
    std::string sortCriteria;
    std::string mediaBase; // "http://address:port" of the HTTP front
    std::string rootTitle; // the device's name, the title of the root
};

struct BrowseAnswer {
    int error = 0; // a UPnP error code, 0 on success
    std::string errorText;
    std::string result; // DIDL-Lite
    uint32_t numberReturned = 0;
    uint32_t totalMatches = 0;
};

BrowseAnswer Browse(const MediaCatalog& catalog, const BrowseRequest& request);
