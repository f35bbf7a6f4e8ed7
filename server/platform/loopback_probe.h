#pragma once

// One HTTP request to this machine's own server over the loopback address: the health
// check behind the service watchdog. It asks for a static file, so it passes only when
// the server accepts a connection, hands it to a worker and answers.

#include <atomic>
#include <chrono>
#include <string>

// True when GET path on 127.0.0.1:port is answered with status 200 within the time
// given. cancel, when given and set, ends the wait early (false).
bool LoopbackAnswers(int port, const std::string& path, std::chrono::milliseconds within,
    const std::atomic<bool>* cancel = nullptr);
