#pragma once

// The transcoded streams televisions play. A stream is one engine run whose live
// segments are sent one after the other as each appears (a segment file that exists
// is complete), and deleted once sent, as one continuous MPEG-TS answer without a
// length. It counts against "MaxLIveClient" like a phone's stream: its engine is on
// the ENC session list while it runs. It ends when the file is done, when the
// engine fails or stalls, when the screen closes the connection, or when the server
// stops (CancelAll).
//
// Threads: each stream runs on the HTTP worker of its request; CancelAll comes from
// the server's stop. m_lock guards the set of running streams only.

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>

class HttpRequest;
class StreamingContext;
struct CatalogObject;

class DlnaStreams {
public:
    explicit DlnaStreams(StreamingContext& server);

    // Serves the stream of a video fitted into the box of boxHeight (1080 or 720),
    // from the time a "TimeSeekRange.dlna.org" header asks for. mediaHeaders are
    // added to the answer's headers.
    void Serve(HttpRequest& request, const CatalogObject& video, int boxHeight,
        const std::string& mediaHeaders);

    // Ends every stream under way (they stop their engines on their own threads) and
    // refuses new ones until Open.
    void CancelAll();
    void Open();

    size_t Running() const;

private:
    using Flag = std::shared_ptr<std::atomic<bool>>;
    Flag Register();
    void Unregister(const Flag& flag);

    StreamingContext& m_server;
    mutable std::mutex m_lock;
    // --- guarded by m_lock
    std::set<Flag> m_running;
    bool m_closed = false;
};
