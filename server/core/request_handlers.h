#pragma once

// The requests the core answers itself: admission ("/connect") and the remote power
// button ("/serverOff").

class HttpRequest;

// Writes the whole "/connect" answer: result 0 with the id, or -3.
void ResponseConnect(HttpRequest& request);
void OnNotifyConnect(HttpRequest& request);
// Writes the plain success answer of "/serverOff".
void ResponseConnectOff(HttpRequest& request);
void OnNotifyConnectOff(HttpRequest& request);
