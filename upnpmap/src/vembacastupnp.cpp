// The four exported port-mapping calls on the gateway preparation of gateway.h.
//
// Threads: the calls block their thread for the discovery wait and the requests to the
// gateway. The last error is kept per thread, so concurrent callers (the mapping
// worker and a start-up check) each read their own.

#include "vembacastupnp.h"

#include "gateway.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <miniupnpc/upnpcommands.h>
#include <strings.h>

#define VEMBA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

thread_local int t_lastError = vembaupnp::kNoError;

constexpr int kMinAddressBuffer = 16;
constexpr int kMinDescriptionBuffer = 80;
constexpr size_t kMinInternalClientLength = 7;

bool IsPort(int port)
{
    return port >= 1 && port <= 65535;
}

const char* Protocol(int tcp)
{
    return tcp ? "TCP" : "UDP";
}

// Copies text into a caller's buffer of size bytes, always terminated.
void CopyText(char* buffer, int size, const char* text)
{
    if (buffer && size > 0)
        std::snprintf(buffer, static_cast<size_t>(size), "%s", text ? text : "");
}

int Fail(int error)
{
    t_lastError = error;
    return 0;
}

// A port text the gateway sent, as a number; -1 when it is none.
int PortNumber(const char* text)
{
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 65535)
        return -1;
    return static_cast<int>(value);
}

struct MappingQuery {
    int externalPort;
    const char* protocol;
};

struct FoundMapping {
    char internalClient[40] = {};
    char internalPort[8] = {};
    char description[96] = {};
    char enabled[8] = {};
};

// Walks the gateway's table from index 0 to the first index it refuses.
bool FindMapping(const vembaupnp::Gateway& gateway, const MappingQuery& query, FoundMapping& found)
{
    for (int index = 0; index < 65536; ++index) {
        char indexText[8];
        std::snprintf(indexText, sizeof(indexText), "%d", index);
        char externalPort[8] = {};
        char protocol[8] = {};
        char remoteHost[72] = {};
        char duration[24] = {};
        FoundMapping entry;
        int result = UPNP_GetGenericPortMappingEntry(gateway.ControlUrl(), gateway.ServiceType(),
            indexText, externalPort, entry.internalClient, entry.internalPort, protocol,
            entry.description, entry.enabled, remoteHost, duration);
        if (result != UPNPCOMMAND_SUCCESS)
            return false;
        if (PortNumber(externalPort) == query.externalPort
            && strcasecmp(protocol, query.protocol) == 0) {
            found = entry;
            return true;
        }
    }
    return false;
}

} // namespace

VEMBA_EXPORT int Vemba_GetLastError(void)
{
    return t_lastError;
}

VEMBA_EXPORT int Vemba_SetPortMapInfo(int externalPort, int tcp, const char* internalClient,
    int internalPort, int /*reserved*/, const char* description, int timeoutMs)
{
    t_lastError = vembaupnp::kNoError;
    // The arguments are checked before anything is sent, so a bad call costs nothing.
    if (!IsPort(externalPort) || !IsPort(internalPort) || !internalClient
        || std::strlen(internalClient) < kMinInternalClientLength)
        return Fail(vembaupnp::kInvalidArguments);
    vembaupnp::Gateway gateway;
    if (int error = gateway.Prepare(timeoutMs))
        return Fail(error);

    char external[8];
    char internal[8];
    std::snprintf(external, sizeof(external), "%d", externalPort);
    std::snprintf(internal, sizeof(internal), "%d", internalPort);
    int added = UPNP_AddPortMapping(gateway.ControlUrl(), gateway.ServiceType(), external, internal,
        internalClient, description ? description : "", Protocol(tcp), nullptr, "0");
    if (added != UPNPCOMMAND_SUCCESS)
        return Fail(vembaupnp::CommandError(added));

    char client[40] = {};
    char port[8] = {};
    char text[96] = {};
    char enabled[8] = {};
    char lease[24] = {};
    int checked = UPNP_GetSpecificPortMappingEntry(gateway.ControlUrl(), gateway.ServiceType(),
        external, Protocol(tcp), nullptr, client, port, text, enabled, lease);
    if (checked != UPNPCOMMAND_SUCCESS)
        return Fail(vembaupnp::CommandError(checked));
    return 1;
}

VEMBA_EXPORT int Vemba_GetPortMapInfo(int externalPort, int tcp, char* externalIp,
    int externalIpSize, char* internalClient, int internalClientSize, int* internalPort,
    int* enabled, char* description, int descriptionSize, int timeoutMs)
{
    t_lastError = vembaupnp::kNoError;
    if (!externalIp || !internalClient || externalIpSize < kMinAddressBuffer
        || internalClientSize < kMinAddressBuffer || !IsPort(externalPort) || !internalPort
        || !enabled || (description && descriptionSize < kMinDescriptionBuffer))
        return Fail(vembaupnp::kInvalidArguments);
    CopyText(externalIp, externalIpSize, "");
    CopyText(internalClient, internalClientSize, "");
    CopyText(description, descriptionSize, "");
    *internalPort = 0;
    *enabled = 0;

    vembaupnp::Gateway gateway;
    if (int error = gateway.Prepare(timeoutMs))
        return Fail(error);
    CopyText(externalIp, externalIpSize, gateway.ExternalAddress().c_str());

    FoundMapping found;
    if (!FindMapping(gateway, { externalPort, Protocol(tcp) }, found))
        return 0; // no mapping matched: not an error
    CopyText(internalClient, internalClientSize, found.internalClient);
    *internalPort = std::atoi(found.internalPort);
    *enabled = std::atoi(found.enabled);
    CopyText(description, descriptionSize, found.description);
    return 1;
}

VEMBA_EXPORT int Vemba_RemovePortMapInfo(int externalPort, int tcp, int timeoutMs)
{
    t_lastError = vembaupnp::kNoError;
    if (!IsPort(externalPort))
        return Fail(vembaupnp::kInvalidArguments);
    vembaupnp::Gateway gateway;
    if (int error = gateway.Prepare(timeoutMs))
        return Fail(error);
    char external[8];
    std::snprintf(external, sizeof(external), "%d", externalPort);
    int removed = UPNP_DeletePortMapping(
        gateway.ControlUrl(), gateway.ServiceType(), external, Protocol(tcp), nullptr);
    if (removed != UPNPCOMMAND_SUCCESS)
        return Fail(vembaupnp::CommandError(removed));
    return 1;
}
