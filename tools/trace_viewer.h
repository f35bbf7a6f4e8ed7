#pragma once

// The trace viewer's work: own the "Displayer" socket in the runtime folder and
// turn each datagram into one printed line.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

// "<level word in hex> <text>" for one datagram (4 bytes little-endian level word,
// then the text); nullopt for a datagram shorter than the level word. Line breaks
// inside the text are printed as blanks so that one message stays one line.
std::optional<std::string> FormatTraceDatagram(const std::string& datagram);

class TraceViewerSocket {
public:
    // Binds path; a socket file left behind by a viewer that is gone is replaced.
    explicit TraceViewerSocket(std::string path);
    ~TraceViewerSocket();
    TraceViewerSocket(const TraceViewerSocket&) = delete;
    TraceViewerSocket& operator=(const TraceViewerSocket&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    const std::string& error() const { return m_error; }

    // The next datagram; nullopt when none arrived within waitMs (or on error).
    std::optional<std::string> receive(int waitMs);

private:
    std::string m_path;
    std::string m_error;
    int m_fd = -1;
};

// Prints every message until stop becomes true; returns the exit status.
int RunTraceViewer(const std::string& socketPath, const std::atomic<bool>& stop);
