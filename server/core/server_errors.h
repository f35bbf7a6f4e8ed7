#pragma once

// The codes a server start or a port mapping reports to the program around the server
// (the desktop window shows a message box for them, the daemon prints them).

// Codes 1 to 6, 9 (HTTPS) and 10 (a full disk) are the web server's start errors
// (http/web_server.h).
// Code 7: no UPnP gateway took the mapping.
inline constexpr int kServerErrorNoUpnpDevice = 7;
// Code 8, shown by the settings dialog: the port is mapped, but the server cannot
// reach its own external address through the gateway.
inline constexpr int kServerErrorNoExternalAccess = 8;
// Code 10 (a web server start error): the disk of the data folder is full.
inline constexpr int kServerErrorDiskFull = 10;

// The language key of the message for a server error code, or nullptr for a code
// that shows none.
const char* ServerErrorTextKey(int code);
