#pragma once

/* vembacastupnp: one TCP or UDP port mapping on the UPnP Internet gateway of the local
   network. Every call discovers the gateway, picks a connected IGD, reads its external
   address, does its one action and releases everything before it returns.

   Every call returns 1 on success and 0 on failure; the reason of the last failure of
   the calling thread is read with Vemba_GetLastError:
     0    no error (also after Vemba_GetPortMapInfo found no matching mapping)
     -1   the gateway answered with an error that could not be read
     -2   invalid arguments
     -3   the request to the gateway got no HTTP answer
     -11  no UPnP device answered the discovery
     -12  the gateway was found but is not connected
     -14  the gateway's external address could not be read or is empty
     -15  no Internet gateway was found
     > 0  the UPnP error code of the gateway (718: the port is mapped elsewhere)

   Ports lie in 1-65535; a non-zero tcp chooses "TCP", 0 "UDP"; timeoutMs is the
   discovery wait in milliseconds, -1 for 2000. Addresses are dotted IPv4 texts. */

#ifdef __cplusplus
extern "C" {
#endif

int Vemba_GetLastError(void);

/* Adds externalPort -> internalClient:internalPort as a permanent mapping and checks
   that the gateway reports it. internalClient has at least 7 characters; reserved is
   ignored. */
int Vemba_SetPortMapInfo(int externalPort, int tcp, const char* internalClient, int internalPort,
    int reserved, const char* description, int timeoutMs);

/* Finds the mapping of externalPort with the protocol. externalIp receives the gateway's
   external address once it is known (also when no mapping matches); on a match
   internalClient, *internalPort, *enabled and, when given, description are filled.
   externalIpSize and internalClientSize are at least 16, descriptionSize at least 80. */
int Vemba_GetPortMapInfo(int externalPort, int tcp, char* externalIp, int externalIpSize,
    char* internalClient, int internalClientSize, int* internalPort, int* enabled,
    char* description, int descriptionSize, int timeoutMs);

/* Deletes the mapping of externalPort with the protocol. */
int Vemba_RemovePortMapInfo(int externalPort, int tcp, int timeoutMs);

#ifdef __cplusplus
}
#endif
