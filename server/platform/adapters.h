#pragma once

// The network adapters the server can serve on: IPv4 interfaces that are up and
// not loopback, in the order the system reports them.

#include <string>
#include <vector>

struct Adapter {
    std::string address; // the interface's first IPv4 address, dotted
    std::string description; // the interface name ("eth0")
    std::string hardwareAddress; // "%02X:%02X:%02X:%02X:%02X:%02X", empty when it has none
};

std::vector<Adapter> ListAdapters();

// The three parallel lists of the settings dialog; appends one entry per adapter
// to each list and is true when at least one adapter was listed.
bool ListAdapters(std::vector<std::string>& addresses, std::vector<std::string>& descriptions,
    std::vector<std::string>& hardwareAddresses);

// "%02X:%02X:%02X:%02X:%02X:%02X" of the first six bytes, or empty text for fewer.
std::string FormatHardwareAddress(const unsigned char* bytes, size_t length);
