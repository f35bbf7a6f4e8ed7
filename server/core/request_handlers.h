#pragma once

// The requests the core answers itself: admission ("/connect") and the remote power
// button ("/serverOff").

class CVembaServer;
class HttpRequest;

// Writes the whole "/connect" answer: result 0 with the id, or -3.
void ResponseConnect(CVembaServer& server, HttpRequest& request);
void OnNotifyConnect(CVembaServer& server, HttpRequest& request);
// Writes the plain success answer of "/serverOff".
void ResponseConnectOff(HttpRequest& request);
void OnNotifyConnectOff(CVembaServer& server, HttpRequest& request);
