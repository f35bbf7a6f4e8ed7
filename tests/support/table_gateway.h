#pragma once

// A UPnP gateway as the server's callers see it, for tests that drive them without
// the port-mapping library: a table of mappings, an external address, and refusals
// (UPnP error 718) for ports another device holds.

#include "remote/network_identity.h"

#include <map>
#include <string>
#include <utility>

namespace vembatest {

class TableGateway : public IPortMapper {
public:
    bool GetMapping(int externalPort, GatewayMapping& mapping) override
    {
        ++reads;
        mapping = {};
        if (!present) {
            lastError = -11;
            return false;
        }
        lastError = 0;
        mapping.externalAddress = externalAddress;
        auto found = table.find(externalPort);
        if (found == table.end())
            return false;
        mapping.internalClient = found->second.first;
        mapping.internalPort = found->second.second;
        return true;
    }
    bool AddMapping(const std::string& client, int externalPort, int internalPort) override
    {
        if (!present)
            return lastError = -11, false;
        auto found = table.find(externalPort);
        if (found != table.end() && found->second.first != client)
            return lastError = 718, false;
        table[externalPort] = { client, internalPort };
        return lastError = 0, true;
    }
    bool RemoveMapping(int externalPort) override
    {
        if (!present || refuseRemoval)
            return lastError = present ? 714 : -11, false;
        table.erase(externalPort);
        return lastError = 0, true;
    }
    int LastError() override { return lastError; }

    bool present = true;
    bool refuseRemoval = false;
    std::string externalAddress = "127.0.0.1";
    std::map<int, std::pair<std::string, int>> table;
    int lastError = 0;
    int reads = 0;
};

} // namespace vembatest
