// bench_http: how the daemon serves files beside nginx, measured in one run on the
// same machine, with the same files and the same client.
//
//   (a) 10 KB files ("/file_download/") and thumbnails ("/thumb/"): requests per
//       second at 1, 8 and 32 connections at once, every request on a connection of
//       its own (as the phone asks); nginx is asked the same way.
//   (b) one large file: megabytes per second for one client.
//   (c) slow connections: with 200 idle connections open from 127.0.0.1, how long a
//       request from 127.0.0.2 waits for its answer; and whether a reader at
//       100 KB/s gets a file of --slow-mb megabytes whole.
//   (d) kept alive: 10 KB files and thumbnails over 1, 8 and 32 connections that
//       each carry request after request (HTTP/1.1 keep-alive), as a browser loads a
//       page, its modules and a thumbnail per video; nginx with its keep-alive.
//
// Each figure is the median of three alternating runs. nginx is started on a free
// loopback port with a configuration of its own and stopped at the end.
//
// Usage: bench_http [--seconds S] [--large-mb N] [--slow-mb N] [--kept-alive-only].
// Not run in CI.

#include "daemon_process.h"
#include "platform/places.h"
#include "probe_client.h"
#include "support/http_client.h"
#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void WriteBytes(const std::string& path, size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// One GET on a fresh connection; the bytes received (0 on failure).
size_t FetchOnce(int port, const std::string& target, const char* source = "127.0.0.1")
{
    ProbeSocket socket(port, source);
    if (!socket.Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"))
        return 0;
    ProbeSocket::Ending ending = socket.ReadToEnd();
    return ending.bytes.rfind("HTTP/1.1 200", 0) == 0 ? ending.bytes.size() : 0;
}

// Requests per second of clients connections asking for targets in turn.
double RequestRate(int port, const std::vector<std::string>& targets, int clients, double seconds)
{
    std::atomic<long> done { 0 };
    std::atomic<long> failed { 0 };
    const auto end = Clock::now()
        + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            for (size_t i = static_cast<size_t>(c); Clock::now() < end; ++i)
                (FetchOnce(port, targets[i % targets.size()]) ? done : failed)++;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    if (failed > 0)
        std::printf("    (%ld failed)\n", failed.load());
    return static_cast<double>(done) / seconds;
}

// One GET on a connection kept open: the answer's head and its Content-Length bytes;
// false when the server closed or the answer has no length.
bool FetchKeptAlive(ProbeSocket& socket, const std::string& target, std::string& pending)
{
    if (!socket.Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"))
        return false;
    char buffer[65536];
    size_t head = std::string::npos;
    size_t end = std::string::npos;
    for (;;) {
        if (head == std::string::npos && (head = pending.find("\r\n\r\n")) != std::string::npos) {
            size_t at = pending.find("Content-Length: ");
            if (at == std::string::npos || at > head || pending.rfind("HTTP/1.1 200", 0) != 0)
                return false;
            end = head + 4 + std::strtoul(pending.c_str() + at + 16, nullptr, 10);
        }
        if (end != std::string::npos && pending.size() >= end) {
            pending.erase(0, end);
            return true;
        }
        ssize_t n = recv(socket.Fd(), buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        pending.append(buffer, static_cast<size_t>(n));
    }
}

// Requests per second of clients connections kept alive, each asking for targets in
// turn; a connection the server closes (nginx after its request limit) is opened anew.
double KeptAliveRate(int port, const std::vector<std::string>& targets, int clients, double seconds)
{
    std::atomic<long> done { 0 };
    std::atomic<long> reopened { 0 };
    const auto end = Clock::now()
        + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            auto socket = std::make_unique<ProbeSocket>(port);
            std::string pending;
            for (size_t i = static_cast<size_t>(c); Clock::now() < end; ++i) {
                if (FetchKeptAlive(*socket, targets[i % targets.size()], pending)) {
                    ++done;
                    continue;
                }
                ++reopened;
                socket = std::make_unique<ProbeSocket>(port);
                pending.clear();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    if (reopened > clients * 4)
        std::printf("    (%ld connections opened anew)\n", reopened.load());
    return static_cast<double>(done) / seconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Server {
    const char* name;
    int port;
    std::string filePrefix; // "/file_download/Movies/" or nginx's equivalent
    std::string thumbPrefix;
};

// nginx as a child with a configuration of its own, serving the same folders.
class Nginx {
public:
    Nginx(const std::string& root, const std::string& media, const std::string& services, int port)
    {
        fs::create_directories(root + "/logs");
        // Started by root, nginx's workers would drop to "nobody" and could not read
        // our private temporary folder.
        std::ofstream(root + "/nginx.conf")
            << (geteuid() == 0 ? "user root; " : "") << "worker_processes auto; pid " << root
            << "/nginx.pid; error_log " << root
            << "/logs/error.log; events { worker_connections 4096; }\n"
            << "http { access_log off; sendfile on; default_type application/octet-stream;\n"
            << " server { listen 127.0.0.1:" << port << ";\n"
            << "  location /file_download/Movies/ { alias " << media << "/; }\n"
            << "  location /thumb/ { alias " << services << "/; } } }\n";
        std::vector<std::string> args { "/usr/sbin/nginx", "-p", root, "-c", root + "/nginx.conf",
            "-g", "daemon off;" };
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
    }
    ~Nginx()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGQUIT);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool Running() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

bool WaitUntilServing(int port, const std::string& target)
{
    for (int i = 0; i < 500; ++i) {
        if (FetchOnce(port, target) > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Milliseconds until a request from 127.0.0.2 is answered while 200 connections
// from 127.0.0.1 sit idle (half of them in the middle of their headers).
double AnswerBehindIdleConnections(int port, const std::string& target)
{
    std::vector<ProbeSocket> idle;
    for (int i = 0; i < 200; ++i) {
        idle.emplace_back(port);
        if (i % 2 == 1)
            idle.back().Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
    }
    const auto start = Clock::now();
    size_t got = FetchOnce(port, target, "127.0.0.2");
    return got > 0 ? Since(start) * 1000 : -1;
}

// True when a reader at 100 KB/s receives the whole file.
bool SlowReaderGetsAll(int port, const std::string& target, size_t size)
{
    ProbeSocket reader(port);
    int small = 32 * 1024;
    setsockopt(reader.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    reader.Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    const auto start = Clock::now();
    size_t received = 0;
    char buffer[16 * 1024];
    for (;;) {
        ssize_t n = recv(reader.Fd(), buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        received += static_cast<size_t>(n);
        std::this_thread::sleep_until(start
            + std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(received / (100.0 * 1024))));
    }
    return received > size;
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 3;
    int largeMb = 200;
    int slowMb = 2;
    bool keptAliveOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--kept-alive-only"))
            keptAliveOnly = true;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--large-mb"))
            largeMb = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--slow-mb"))
            slowMb = std::atoi(argv[i + 1]);
    }
    setenv("VEMBACAST_SHUTDOWN_COMMAND", "true", 1);
    vembatest::TempFolder root("vembabench");
    const std::string media = root.Path() + "/media";
    const std::string data = root.Path() + "/data";
    const std::string services = data + "/Services";
    std::vector<std::string> files;
    std::vector<std::string> thumbs;
    for (unsigned i = 0; i < 50; ++i) {
        WriteBytes(media + "/small" + std::to_string(i) + ".bin", 10 * 1024, i);
        WriteBytes(
            services + "/Movies/clip" + std::to_string(i) + ".avi_s.jpg", 10 * 1024, i + 100);
        files.push_back("small" + std::to_string(i) + ".bin");
        thumbs.push_back("Movies/clip" + std::to_string(i) + ".avi_s.jpg");
    }
    WriteBytes(media + "/large.bin", size_t(largeMb) << 20, 7);
    WriteBytes(media + "/slow.bin", size_t(slowMb) << 20, 8);

    const int ours = PickFreePort();
    fs::create_directories(root.Path() + "/out");
    DaemonProcess daemon(
        { "--data-dir", data, "--port", std::to_string(ours), "--share", "Movies=" + media },
        root.Path() + "/out");
    const int theirs = PickFreePort();
    Nginx nginx(root.Path() + "/nginx", media, services, theirs);
    const Server servers[] = { { "vembacastd", ours, "/file_download/Movies/", "/thumb/" },
        { "nginx", theirs, "/file_download/Movies/", "/thumb/" } };
    for (const Server& server : servers) {
        if (!WaitUntilServing(server.port, server.filePrefix + files[0])) {
            std::printf("%s does not serve; stopping\n", server.name);
            return 1;
        }
    }

    std::printf("HTTP serving, medians of 3 alternating runs of %.1f s\n", seconds);
    for (const char* kind : { "10 KB files", "thumbnails" }) {
        if (keptAliveOnly)
            break;
        for (int clients : { 1, 8, 32 }) {
            std::vector<double> rates[2];
            for (int run = 0; run < 3; ++run) {
                for (int s = 0; s < 2; ++s) {
                    std::vector<std::string> targets;
                    bool file = kind[0] == '1';
                    for (const std::string& name : file ? files : thumbs)
                        targets.push_back(
                            (file ? servers[s].filePrefix : servers[s].thumbPrefix) + name);
                    rates[s].push_back(RequestRate(servers[s].port, targets, clients, seconds));
                }
            }
            double a = Median(rates[0]);
            double b = Median(rates[1]);
            std::printf("  %-11s %2d conn: vembacastd %8.0f req/s  nginx %8.0f req/s  (%3.0f %%)\n",
                kind, clients, a, b, 100 * a / b);
        }
    }

    std::printf("Kept alive (HTTP/1.1), medians of 3 alternating runs of %.1f s\n", seconds);
    for (const char* kind : { "10 KB files", "thumbnails" }) {
        for (int clients : { 1, 8, 32 }) {
            std::vector<double> rates[2];
            for (int run = 0; run < 3; ++run) {
                for (int s = 0; s < 2; ++s) {
                    std::vector<std::string> targets;
                    bool file = kind[0] == '1';
                    for (const std::string& name : file ? files : thumbs)
                        targets.push_back(
                            (file ? servers[s].filePrefix : servers[s].thumbPrefix) + name);
                    rates[s].push_back(KeptAliveRate(servers[s].port, targets, clients, seconds));
                }
            }
            double a = Median(rates[0]);
            double b = Median(rates[1]);
            std::printf("  %-11s %2d conn: vembacastd %8.0f req/s  nginx %8.0f req/s  (%3.0f %%)\n",
                kind, clients, a, b, 100 * a / b);
        }
    }

    if (keptAliveOnly)
        return 0;
    std::vector<double> throughput[2];
    for (int run = 0; run < 3; ++run) {
        for (int s = 0; s < 2; ++s) {
            const auto start = Clock::now();
            size_t got = FetchOnce(servers[s].port, servers[s].filePrefix + "large.bin");
            throughput[s].push_back(got / Since(start) / (1 << 20));
        }
    }
    std::printf("  large file (%d MB), 1 client: vembacastd %.0f MB/s  nginx %.0f MB/s\n", largeMb,
        Median(throughput[0]), Median(throughput[1]));

    for (const Server& server : servers) {
        double waited = AnswerBehindIdleConnections(server.port, server.filePrefix + files[1]);
        std::printf("  %s: answer behind 200 idle connections: %.0f ms\n", server.name, waited);
    }
    for (const Server& server : servers) {
        bool whole
            = SlowReaderGetsAll(server.port, server.filePrefix + "slow.bin", size_t(slowMb) << 20);
        std::printf(
            "  %s: %d MB read at 100 KB/s: %s\n", server.name, slowMb, whole ? "whole" : "CUT");
    }
    return 0;
}
