#pragma once

// The embedded console: the console service run by the server itself on a loopback
// port, so a server on a home network starts and streams without any outside service.
// While it runs it is the built-in console of CRelayServer, and every console request
// still travels the real HTTP path. It reports the chosen adapter's address as the
// external address.

#include "http/form_service.h"

class CEmbeddedConsole {
public:
    CEmbeddedConsole() = default;
    ~CEmbeddedConsole(); // stops it
    CEmbeddedConsole(const CEmbeddedConsole&) = delete;
    CEmbeddedConsole& operator=(const CEmbeddedConsole&) = delete;

    // Starts on 127.0.0.1 and a free port and becomes the built-in console.
    bool Start();
    void Stop();
    bool IsRunning() const { return m_service.IsRunning(); }
    int Port() const { return m_service.Port(); }

private:
    CFormService m_service;
};

// Starts console when no console address is configured ("TestSeverURL" empty).
// True when it runs afterwards.
bool StartEmbeddedConsoleIfNeeded(CEmbeddedConsole& console);

// The address of the adapter the server serves on: "InIP", else the first adapter's.
std::string ChosenAdapterAddress();
