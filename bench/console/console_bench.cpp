// bench_console: the console's PIN look-ups and registrations per second, and their
// latency, on this machine in one run:
//   sqlite   one console on an SQLite file (limits in its memory)
//   pg x1    one console on PostgreSQL (limits in the database)
//   pg x2    two consoles on the same PostgreSQL behind nginx (Debian's nginx-light)
// Every request opens its own connection and closes it, as servers and phones do.
// Beside each rate stands the CPU time each part spent per request (from /proc):
// the consoles, PostgreSQL (all its processes), nginx, and this load generator. On
// one small machine all of them share the cores, so two consoles cannot be faster
// here; the CPU per request is what says what N machines would serve.
//
// Then slow clients: the 99th percentile of one client's look-ups on the pg x1
// console alone, beside 3 stalled connections, beside 500 from 20 addresses, and
// beside 500 from one address (which the per-address bound turns away).
//
// PostgreSQL runs durably (fsync on), like the SQLite file.
// Usage: bench_console [--seconds S] [--clients N]. Not run in CI.

#include "daemon_process.h"
#include "nginx_balancer.h"
#include "pg_server.h"
#include "probe_client.h"
#include "standalone_console.h"
#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <sstream>
#include <sys/resource.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double CpuSecondsOf(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15)
            ticks += std::atof(field.c_str());
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int ParentOf(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    return close == std::string::npos ? 0 : std::atoi(text.c_str() + close + 4);
}

// A process and its children (PostgreSQL's backends, nginx's workers).
std::vector<int> WithChildren(int pid)
{
    std::vector<int> pids { pid };
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        int child = std::atoi(entry.path().filename().c_str());
        if (child > 0 && ParentOf(child) == pid)
            pids.push_back(child);
    }
    return pids;
}

double OwnCpu()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One POST on a fresh connection from source; the status (0 when it failed).
int PostOnce(
    int port, const std::string& page, const std::string& body, std::string* answer = nullptr)
{
    HttpReply reply = SendRawRequest(port,
        "POST /pin/" + page + " HTTP/1.1\r\nHost: c\r\nContent-Length: "
            + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body,
        std::chrono::seconds(10));
    if (answer)
        *answer = reply.body;
    return reply.status;
}

struct Part {
    std::string name;
    std::vector<int> pids; // empty: this program
    bool withChildren = false; // the children too, those started meanwhile included
};

// CPU seconds per process of a part now.
std::map<int, double> Sample(const Part& part)
{
    std::map<int, double> cpu;
    if (part.pids.empty()) {
        cpu[0] = OwnCpu();
        return cpu;
    }
    for (int pid : part.pids) {
        for (int member : part.withChildren ? WithChildren(pid) : std::vector<int> { pid })
            cpu[member] = CpuSecondsOf(member);
    }
    return cpu;
}

double Spent(const std::map<int, double>& before, const std::map<int, double>& after)
{
    double seconds = 0;
    for (const auto& [pid, cpu] : after) {
        auto found = before.find(pid);
        seconds += cpu - (found == before.end() ? 0 : found->second);
    }
    return seconds;
}

struct Run {
    long requests = 0;
    long failed = 0;
    double seconds = 0;
    double p50 = 0;
    double p99 = 0;
    std::vector<double> cpuPerRequest; // microseconds, one per part
};

double Percentile(std::vector<double>& values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(
        values.size() - 1, static_cast<size_t>(share * static_cast<double>(values.size())))];
}

// Requests from `clients` threads for `seconds`; make(i) gives the i-th page and body.
Run Load(int port, int clients, double seconds, const std::vector<Part>& parts,
    const std::function<std::pair<std::string, std::string>(long)>& make)
{
    std::atomic<long> next { 0 };
    std::atomic<long> failed { 0 };
    std::vector<std::vector<double>> latencies(static_cast<size_t>(clients));
    std::vector<std::map<int, double>> before;
    for (const Part& part : parts)
        before.push_back(Sample(part));
    auto started = Clock::now();
    auto end = started + std::chrono::duration<double>(seconds);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            while (Clock::now() < end) {
                auto [page, body] = make(next++);
                auto sent = Clock::now();
                int status = PostOnce(port, page, body);
                latencies[static_cast<size_t>(c)].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                if (status != 200)
                    ++failed;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    Run run;
    run.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::vector<double> all;
    for (auto& list : latencies)
        all.insert(all.end(), list.begin(), list.end());
    run.requests = static_cast<long>(all.size());
    run.failed = failed;
    run.p99 = Percentile(all, 0.99);
    run.p50 = Percentile(all, 0.50);
    for (size_t i = 0; i < parts.size(); ++i) {
        run.cpuPerRequest.push_back(Spent(before[i], Sample(parts[i])) * 1e6
            / static_cast<double>(std::max(1L, run.requests)));
    }
    return run;
}

std::string Mac(long n)
{
    char text[18];
    std::snprintf(text, sizeof(text), "02:%02lX:%02lX:%02lX:%02lX:%02lX", (n >> 32) & 0xff,
        (n >> 24) & 0xff, (n >> 16) & 0xff, (n >> 8) & 0xff, n & 0xff);
    return text;
}

std::vector<std::string> RegisterCodes(int port, int count, long base)
{
    std::vector<std::string> codes;
    for (int i = 0; i < count; ++i) {
        std::string answer;
        PostOnce(port, "registerPINCode.php", "mac=" + Mac(base + i) + "&name=Bench&port=47002",
            &answer);
        size_t at = answer.find("<key>pincode</key><string>");
        if (at != std::string::npos)
            codes.push_back(answer.substr(at + 26, 8));
    }
    return codes;
}

void Report(const char* what, const char* target, const Run& run, const std::vector<Part>& parts)
{
    std::printf("  %-13s %-7s %7.0f /s  p50 %6.2f ms  p99 %6.2f ms  failed %ld  CPU/request:", what,
        target, static_cast<double>(run.requests) / run.seconds, run.p50, run.p99, run.failed);
    double total = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::printf(" %s %.0f us", parts[i].name.c_str(), run.cpuPerRequest[i]);
        total += run.cpuPerRequest[i];
    }
    std::printf("  (all %.0f us)\n", total);
    std::fflush(stdout);
}

bool WaitForHealth(int port)
{
    for (int i = 0; i < 500; ++i) {
        if (HttpGet(port, "/health", std::chrono::seconds(2)).status == 200)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// One client's sequential look-ups for `seconds`: the 99th percentile in ms.
double SingleClientP99(
    int port, const std::vector<std::string>& codes, double seconds, long& failed)
{
    std::vector<double> latencies;
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (size_t i = 0; Clock::now() < end; ++i) {
        auto sent = Clock::now();
        if (PostOnce(port, "getServerInfoFromPINCode.php", "pincode=" + codes[i % codes.size()])
            != 200)
            ++failed;
        latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    }
    return Percentile(latencies, 0.99);
}

// Connections that stall: idle, half a head, or a head and half a body, in turn.
std::vector<std::unique_ptr<ProbeSocket>> Stall(int port, int count, int addresses, int firstHost)
{
    std::vector<std::unique_ptr<ProbeSocket>> sockets;
    for (int i = 0; i < count; ++i) {
        std::string source = "127.0.0." + std::to_string(firstHost + i % addresses);
        auto socket = std::make_unique<ProbeSocket>(port, source.c_str());
        if (i % 3 == 1)
            socket->Send(
                "POST /pin/getServerInfoFromPINCode.php HTTP/1.1\r\nHost: c\r\nContent-Le");
        if (i % 3 == 2)
            socket->Send(
                "POST /pin/getServerInfoFromPINCode.php HTTP/1.1\r\nContent-Length: 40\r\n\r\npin");
        sockets.push_back(std::move(socket));
    }
    return sockets;
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 4;
    int clients = 8;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        if (name == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (name == "--clients")
            clients = std::atoi(argv[i + 1]);
    }
    vembatest::TempFolder root("vemba-bench-console");
    PgServer pg(true);
    if (!pg.Missing().empty()) {
        std::fprintf(stderr, "bench_console: %s\n", pg.Missing().c_str());
        return 1;
    }
    // Limits wide enough for the load; the per-address bounds are what the slow-client
    // part measures.
    std::vector<std::string> common { "--max-registrations", "1000000", "--codes-per-server", "4",
        "--max-failed-lookups", "1000000", "--trust-proxy", "127.0.0.1" };
    for (const char* folder : { "/sqlite", "/pg1", "/pg2" })
        std::filesystem::create_directories(root.Path() + folder);
    StandaloneConsole sqlite(root.Path() + "/sqlite", root.Path() + "/sqlite/pins.sqlite", common);
    StandaloneConsole first(root.Path() + "/pg1", pg.SocketConnInfo(), common);
    StandaloneConsole second(root.Path() + "/pg2", pg.SocketConnInfo(), common);
    int balancerPort = PickFreePort();
    NginxBalancer nginx(root.Path() + "/nginx", balancerPort, { first.Port(), second.Port() });
    if (sqlite.Port() <= 0 || first.Port() <= 0 || second.Port() <= 0
        || !WaitForHealth(balancerPort)) {
        std::fprintf(stderr, "bench_console: a console or nginx did not start\n%s%s",
            first.Process().Err().c_str(), sqlite.Process().Err().c_str());
        return 1;
    }
    std::vector<int> postgres { pg.PostmasterPid() };
    std::vector<int> nginxPids { nginx.Pid() };

    struct Target {
        const char* name;
        int port;
        std::vector<Part> parts;
    };
    std::vector<Target> targets {
        { "sqlite", sqlite.Port(),
            { { "console", { static_cast<int>(sqlite.Process().Pid()) } }, { "load", {} } } },
        { "pg x1", first.Port(),
            { { "console", { static_cast<int>(first.Process().Pid()) } },
                { "postgres", postgres, true }, { "load", {} } } },
        { "pg x2", balancerPort,
            { { "consoles",
                  { static_cast<int>(first.Process().Pid()),
                      static_cast<int>(second.Process().Pid()) } },
                { "postgres", postgres, true }, { "nginx", nginxPids, true }, { "load", {} } } },
    };
    std::printf("bench_console: %d clients, %.0f s per figure, a new connection per request\n",
        clients, seconds);
    std::vector<std::string> sqliteCodes = RegisterCodes(sqlite.Port(), 1000, 1);
    std::vector<std::string> pgCodes = RegisterCodes(first.Port(), 1000, 1);
    long macBase = 1000000;
    for (Target& target : targets) {
        const std::vector<std::string>& codes
            = target.port == sqlite.Port() ? sqliteCodes : pgCodes;
        Run lookups = Load(target.port, clients, seconds, target.parts, [&](long i) {
            return std::make_pair(std::string("getServerInfoFromPINCode.php"),
                "pincode=" + codes[static_cast<size_t>(i) % codes.size()]);
        });
        Report("look-ups", target.name, lookups, target.parts);
        long base = macBase;
        macBase += 10000000;
        Run registrations = Load(target.port, clients, seconds, target.parts, [&, base](long i) {
            return std::make_pair(std::string("registerPINCode.php"),
                "mac=" + Mac(base + i) + "&name=Bench&port=47002");
        });
        Report("registrations", target.name, registrations, target.parts);
    }

    std::printf("slow clients beside one client's look-ups on the pg x1 console (p99):\n");
    const double window = 3;
    long failed = 0;
    double alone = SingleClientP99(first.Port(), pgCodes, window, failed);
    double p99Three = 0;
    double p99Spread = 0;
    double p99One = 0;
    {
        auto stalled = Stall(first.Port(), 3, 1, 2);
        p99Three = SingleClientP99(first.Port(), pgCodes, window, failed);
    }
    {
        auto stalled = Stall(first.Port(), 500, 20, 10);
        p99Spread = SingleClientP99(first.Port(), pgCodes, window, failed);
    }
    {
        auto stalled = Stall(first.Port(), 500, 1, 3);
        p99One = SingleClientP99(first.Port(), pgCodes, window, failed);
    }
    std::printf("  alone %.2f ms; 3 stalled %.2f ms; 500 stalled from 20 addresses %.2f ms; "
                "500 from one address %.2f ms; failed %ld\n",
        alone, p99Three, p99Spread, p99One, failed);
    return 0;
}
