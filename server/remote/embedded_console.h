#pragma once

// The embedded console: the console service run by the server itself on a loopback
// port, so a server on a home network starts and streams without any outside service.
// While it runs it is the server's built-in console (CRelayServer's fallback), and
// every console request still travels the real HTTP path. It reports the gateway's
// external address (UPnP GetExternalIPAddress) whenever a gateway answers, else the
// chosen adapter's address; its PIN registry is an SQLite file in the data folder.
//
// Threads: a gateway's address is asked for on a thread of its own, detached, since a
// discovery on a network without a gateway takes seconds and cannot be cut short; the
// request waits for it, a stop does not (the waiting request then answers the
// adapter's address). That thread holds shares of the gateway and of the lookup
// state, so nothing it uses goes before it ends.

#include "console/console_service.h"
#include "console/lookup_limiter.h"
#include "console/sqlite_pin_registry.h"
#include "http/form_service.h"

#include <condition_variable>
#include <memory>
#include <mutex>

class IPortMapper;
class SettingsStore;

class CEmbeddedConsole {
public:
    // registryFile: the PIN registry's SQLite file.
    CEmbeddedConsole(
        SettingsStore& settings, std::shared_ptr<IPortMapper> gateway, std::string registryFile);
    ~CEmbeddedConsole(); // stops it
    CEmbeddedConsole(const CEmbeddedConsole&) = delete;
    CEmbeddedConsole& operator=(const CEmbeddedConsole&) = delete;

    // Starts on 127.0.0.1 and a free port and becomes the built-in console.
    bool Start();
    void Stop();
    bool IsRunning() const { return m_service.IsRunning(); }
    int Port() const { return m_service.Port(); }
    // "http://127.0.0.1:PORT/" while it runs, else empty.
    std::string Root() const;

private:
    std::string ExternalAddress();
    // The gateway's external address, empty when no gateway answers or the console
    // stops first.
    std::string AskGateway();

    // What the lookups in flight and the stop share.
    struct Lookups {
        std::mutex lock;
        std::condition_variable changed;
        bool stopping = false; // guarded by lock
    };

    SettingsStore& m_settings;
    const std::shared_ptr<IPortMapper> m_gateway;
    const std::shared_ptr<Lookups> m_lookups = std::make_shared<Lookups>();
    const std::string m_registryFile;
    std::unique_ptr<CSqlitePinRegistry> m_registry; // null when its file cannot be opened
    CLookupLimiter m_limiter;
    std::unique_ptr<CConsoleService> m_console;
    CFormService m_service; // last: stopped before the parts its handler uses go
};

// Starts console when no console address is configured ("TestSeverURL" empty).
// True when it runs afterwards.
bool StartEmbeddedConsoleIfNeeded(SettingsStore& settings, CEmbeddedConsole& console);

// The address of the adapter the server serves on: "InIP", else the first adapter's.
std::string ChosenAdapterAddress(SettingsStore& settings);

// A console request as the console logic sees it.
ConsoleRequest ToConsoleRequest(const FormRequest& request);
