#pragma once

// The documents GUPnP serves for the device: the MediaServer:1 description with the
// server's name and UDN, and the service descriptions (SCPD) of ContentDirectory:1
// and ConnectionManager:1, which GUPnP also reads itself to know the evented state
// variables. They are written into a folder of the services folder at every start.

#include <string>

inline constexpr const char* kDescriptionFile = "MediaServer.xml";
inline constexpr const char* kContentDirectoryType
    = "urn:schemas-upnp-org:service:ContentDirectory:1";
inline constexpr const char* kConnectionManagerType
    = "urn:schemas-upnp-org:service:ConnectionManager:1";

// The device description (name escaped).
std::string MakeDeviceDescription(const std::string& friendlyName, const std::string& udn);

// Writes the three documents into folder (made when missing); false when one could not
// be written.
bool WriteDeviceDocuments(
    const std::string& folder, const std::string& friendlyName, const std::string& udn);
