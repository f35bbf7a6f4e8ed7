#pragma once

// Admission of a client: "/connect" gives it a fresh id, records the host it
// connected under, creates its idle session and hands back the password the user
// set (the client asks its user and compares; the server checks no password).
//
// The client host map remembers, for every id, the host of the "/connect" request,
// so answers that point a client back at this server keep using the address it
// first connected to. Handlers on many threads insert and look up at once; the map
// has its own lock. Ids are never removed.

#include "platform/guid.h"

#include <functional>
#include <optional>
#include <string>

class HttpRequest;

// A new client id (32 upper-case hexadecimal digits) in id; 1 on success, 0 when no
// GUID could be made (id left as it was).
int MakeGUID(std::string& id);
// The same, empty text on failure (the form conversion ids use).
std::string MakeGUID();

// Tests make GUID creation fail; an empty function restores the real source.
void SetGuidSourceForTesting(std::function<std::optional<Guid>()> source);

void SetClientHost(const std::string& clientId, const std::string& host);
// The host the client connected under, or nothing for an unknown id.
std::optional<std::string> FindClientHost(const std::string& clientId);

// Writes the whole "/connect" answer: result 0 with the id, or -3.
void ResponseConnect(HttpRequest& request);
// Writes the plain success answer of "/serverOff".
void ResponseConnectOff(HttpRequest& request);
