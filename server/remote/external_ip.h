#pragma once

// Reading the external address from the console: on an answer that parses without an
// error message the address is written to "ExtIP" and the result is true; otherwise
// nothing changes.
//
// A console may take long to answer, or never; nothing waits for it. The server asks
// in the background (ExternalAddressFetcher) and stores the address when it comes.

#include "remote/http_transport.h"

#include "platform/background_job.h"

#include <atomic>
#include <functional>

class CRelayServer;
class SettingsStore;

bool RefreshExternalIp(SettingsStore& settings, CRelayServer& relay);

// One background refresh at a time, on a thread of its own (platform/background_job.h).
class ExternalAddressFetcher {
public:
    // fetch makes one refresh; it must end soon once cancel is set.
    using Fetch = std::function<bool(const CancelFlag& cancel)>;

    explicit ExternalAddressFetcher(Fetch fetch);

    // Starts a refresh; during one, another follows it. Nothing after Stop.
    void Request() { m_job.Request(); }
    // Ends the refresh under way (its exchange is cancelled) and joins the thread.
    void Stop() { m_job.Stop(); }
    // Waits until no refresh runs or is asked for (tests); false after Stop.
    bool WaitIdle() { return m_job.WaitIdle(); }
    // Refreshes that stored an address.
    unsigned Successes() const { return m_successes; }

private:
    const Fetch m_fetch;
    std::atomic<unsigned> m_successes { 0 };
    BackgroundJob m_job; // last: stopped before the rest goes
};
