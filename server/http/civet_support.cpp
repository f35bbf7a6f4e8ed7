#include "http/civet_support.h"

#include "config/trace.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <civetweb.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

int LogMessage(const mg_connection*, const char* message)
{
    TraceMessage(kTraceWebFailure, "Web Server - %s", message ? message : "");
    return 1;
}

void KnockOnce(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    close(fd);
}

} // namespace

void EnsureCivetLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mg_init_library(0); });
}

void SetCommonCallbacks(mg_callbacks& callbacks)
{
    callbacks.log_message = LogMessage;
}

void StopCivetContext(mg_context* context, int port)
{
    if (!context)
        return;
    std::atomic<bool> stopped { false };
    std::thread knocker;
    if (port > 0 && port <= 65535) {
        knocker = std::thread([&stopped, port] {
            // Bounded: after about two seconds the library's own poll has returned anyway.
            for (int i = 0; i < 200 && !stopped; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                if (!stopped)
                    KnockOnce(port);
            }
        });
    }
    mg_stop(context);
    stopped = true;
    if (knocker.joinable())
        knocker.join();
}
