#pragma once

// Reading the external address from the console: on an answer that parses without an
// error message the address is written to "ExtIP" and the result is true; otherwise
// nothing changes.
//
// A console may take long to answer, or never; nothing waits for it. The server asks
// in the background (ExternalAddressFetcher) and stores the address when it comes.

#include "remote/http_transport.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class CRelayServer;
class SettingsStore;

bool RefreshExternalIp(SettingsStore& settings, CRelayServer& relay);

// One background refresh at a time, on a thread of its own.
//
// Threads: Request and Stop from any thread; m_lock guards the flags and the thread
// object and is never held across the fetch or a join.
class ExternalAddressFetcher {
public:
    // fetch makes one refresh; it must end soon once cancel is set.
    using Fetch = std::function<bool(const CancelFlag& cancel)>;

    explicit ExternalAddressFetcher(Fetch fetch);
    ~ExternalAddressFetcher(); // Stop
    ExternalAddressFetcher(const ExternalAddressFetcher&) = delete;
    ExternalAddressFetcher& operator=(const ExternalAddressFetcher&) = delete;

    // Starts a refresh; during one, another follows it. Nothing after Stop.
    void Request();
    // Ends the refresh under way (its exchange is cancelled) and joins the thread.
    void Stop();
    // Waits until no refresh runs or is asked for (tests); false after Stop.
    bool WaitIdle();
    // Refreshes that stored an address.
    unsigned Successes() const;

private:
    void Run();

    const Fetch m_fetch;
    CancelFlag m_cancel { false };

    mutable std::mutex m_lock;
    std::condition_variable m_idle; // with m_lock: a refresh ended
    // --- guarded by m_lock
    std::thread m_thread;
    bool m_running = false;
    bool m_again = false;
    bool m_stopped = false;
    unsigned m_successes = 0;
};
