// bench_live_neighbours: how much one client's seek costs another.
//
// A client seeks again and again in a fresh file (each seek restarts its engine at
// a new place and is answered once three segments are made). Its seek latency is
// measured:
//   (a) alone;
//   (b) while a neighbour keeps seeking in a small file of its own (cheap to
//       encode, so what it costs the client is shared waiting, not CPU; engine
//       starts share no lock, so little is expected);
//   (c) while a neighbour's engine start hangs: its stand-in engine sleeps and
//       never connects its pipes, so each of its starts waits the whole connect
//       bound (goal: within 1.2 times the lone run);
//   (d) while a neighbour's media read hangs: its file makes the media reader spin
//       until the read's time limit (15 s), and it asks for its playlist again and
//       again (same goal). The lone run is measured
//       before (b) and again after (c), and both halves count, so a change in the
//       machine's load during the run weighs on both sides alike.
//
// Usage: bench_live_neighbours [--seeks N]
// Not run in CI: it measures the machine it runs on.

#include "live_server_fixture.h"
#include "server/library/media_samples.h"
#include "streaming/client_info.h"
#include "streaming/session_list.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string SegmentPath(const std::string& id, int n)
{
    return "/file/" + id + "/vemba-1-" + std::to_string(n) + ".ts";
}

// A client streaming file: connected, played, variant playlist fetched, the
// first segment served. Empty id on failure.
std::string OpenStream(const LoopbackServer& server, const std::string& file)
{
    std::string id = server.Connect();
    if (id.empty() || server.Play(id, file, "00:02:00").result != 0)
        return {};
    if (server.Get("/list/" + id + "/movie1.m3u8").status != 200)
        return {};
    return server.Get(SegmentPath(id, 1)).status == 200 ? id : std::string();
}

// Seconds of each of count seeks of the client. Before each, the client plays the
// file anew (which removes the segments made so far), so every seek restarts the
// engine and waits for freshly made segments.
std::vector<double> MeasureSeeks(
    const LoopbackServer& server, const std::string& id, const std::string& file, int count)
{
    static const int kTargets[] = { 12, 4, 18, 8, 20, 3, 15, 6, 10, 17 };
    std::vector<double> seconds;
    for (int i = 0; i < count; ++i) {
        int target = kTargets[i % std::size(kTargets)];
        if (server.Play(id, file, "00:02:00").result != 0
            || server.Get("/list/" + id + "/movie1.m3u8").status != 200
            || server.Get(SegmentPath(id, 1)).status != 200) {
            std::fprintf(stderr, "the client cannot play again\n");
            continue;
        }
        auto started = Clock::now();
        HttpReply reply = server.Get(SegmentPath(id, target));
        double took = std::chrono::duration<double>(Clock::now() - started).count();
        if (reply.status != 200) {
            std::fprintf(stderr, "seek to %d answered %d\n", target, reply.status);
            continue;
        }
        seconds.push_back(took);
    }
    return seconds;
}

// A neighbour that seeks in its own small file until told to stop.
class SeekingNeighbour {
public:
    SeekingNeighbour(const LoopbackServer& server, const std::string& id)
        : m_thread([this, &server, id] {
            std::mt19937 random(7);
            while (!m_stop) {
                int target = static_cast<int>(random() % 20) + 2;
                if (server.Get(SegmentPath(id, target)).status == 200)
                    ++m_seeks;
            }
        })
    {
    }
    ~SeekingNeighbour()
    {
        m_stop = true;
        m_thread.join();
    }
    int Seeks() const { return m_seeks; }

private:
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_seeks { 0 };
    std::thread m_thread;
};

// A neighbour that never gets going: each variant playlist request restarts its
// engine and waits, for the connect bound (a stand-in engine that never connects)
// or for the media read's limit (a file the reader spins on).
class HungNeighbour {
public:
    HungNeighbour(const LoopbackServer& server, const std::string& id)
        : m_thread([this, &server, id] {
            while (!m_stop) {
                server.Get("/list/" + id + "/movie1.m3u8");
                ++m_starts;
            }
        })
    {
    }
    ~HungNeighbour()
    {
        m_stop = true;
        m_thread.join();
    }
    int Starts() const { return m_starts; }

private:
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_starts { 0 };
    std::thread m_thread;
};

std::string WriteSleepingEngine(const std::string& folder)
{
    std::string path = folder + "/sleeping-engine";
    std::ofstream(path) << "#!/bin/sh\nexec sleep 3600\n";
    chmod(path.c_str(), 0755);
    return path;
}

bool MakeSmall(const std::string& path)
{
    return MakeTestClip(path, 120, 160, 120);
}

bool MakeFresh(const std::string& path)
{
    return MakeTestClip(path, 120, 640, 360);
}

void Report(const char* label, const std::vector<double>& seeks)
{
    std::printf("%-34s median %.3f s  (n=%zu)\n", label, Median(seeks), seeks.size());
}

} // namespace

int main(int argc, char** argv)
{
    int seeks = 6;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seeks") == 0)
            seeks = std::max(1, std::atoi(argv[++i]));
    }
    setenv("VEMBACAST_SHUTDOWN_COMMAND", "true", 1);
    if (!EnsureSharedMedia("neighbour-small.mp4", MakeSmall)
        || !EnsureSharedMedia("neighbour-fresh.mp4", MakeFresh)) {
        std::fprintf(stderr, "cannot make the test media\n");
        return 1;
    }
    LoopbackServer server(SettingList { { "MaxLIveClient", "10" } });
    if (!server.Running() || !PutMedia(server, "neighbour-small.mp4", "small.mp4")
        || !PutMedia(server, "neighbour-fresh.mp4", "fresh.mp4")
        || !MakeSpinningMp4(server.MediaFolder() + "/spin.mp4")) {
        std::fprintf(stderr, "cannot start the server\n");
        return 1;
    }

    std::string client = OpenStream(server, "fresh.mp4");
    if (client.empty()) {
        std::fprintf(stderr, "the client cannot stream\n");
        return 1;
    }
    std::vector<double> alone = MeasureSeeks(server, client, "fresh.mp4", seeks);

    std::string seeker = OpenStream(server, "small.mp4");
    std::vector<double> beside;
    int neighbourSeeks = 0;
    {
        SeekingNeighbour neighbour(server, seeker);
        beside = MeasureSeeks(server, client, "fresh.mp4", seeks);
        neighbourSeeks = neighbour.Seeks();
    }
    server.Get("/playEnd?id=" + seeker);

    std::string hung = OpenStream(server, "small.mp4");
    std::vector<double> hungSeeks;
    int hungStarts = 0;
    if (std::shared_ptr<ClientInfo> session = QZ_FindClientInfo(hung)) {
        session->Encoder().SetEnginePath(WriteSleepingEngine(server.ServicesFolder()));
        session->Encoder().SetConnectBound(std::chrono::seconds(20));
        HungNeighbour neighbour(server, hung);
        hungSeeks = MeasureSeeks(server, client, "fresh.mp4", seeks);
        hungStarts = neighbour.Starts();
    }

    // (d): the media read of the neighbour's file spins until its time limit.
    std::string spinner = server.Connect();
    std::vector<double> spinSeeks;
    int spinStarts = 0;
    if (!spinner.empty() && server.Play(spinner, "spin.mp4", "00:00:10").result == 0) {
        HungNeighbour neighbour(server, spinner);
        spinSeeks = MeasureSeeks(server, client, "fresh.mp4", seeks);
        spinStarts = neighbour.Starts();
    } else {
        std::fprintf(stderr, "the spinning neighbour cannot play\n");
    }
    server.Get("/playEnd?id=" + hung, std::chrono::seconds(60));
    if (!spinner.empty())
        server.Get("/playEnd?id=" + spinner, std::chrono::seconds(60));
    std::vector<double> aloneAgain = MeasureSeeks(server, client, "fresh.mp4", seeks);
    alone.insert(alone.end(), aloneAgain.begin(), aloneAgain.end());

    std::printf("seek latency of a client in a fresh file (%d seeks each)\n", seeks);
    Report("(a) alone (before and after)", alone);
    Report("(b) neighbour seeking a small file", beside);
    Report("(c) neighbour's engine start hangs", hungSeeks);
    Report("(d) neighbour's media read hangs", spinSeeks);
    std::printf("neighbour seeks served in (b): %d; hung starts begun in (c): %d, in (d): %d\n",
        neighbourSeeks, hungStarts + 1, spinStarts + 1);
    std::printf("neighbour seeking / alone: %.2f\n", Median(beside) / Median(alone));
    std::printf("hung engine start / alone: %.2f  hung media read / alone: %.2f (goal <= 1.20)\n",
        Median(hungSeeks) / Median(alone), Median(spinSeeks) / Median(alone));
    server.Get("/playEnd?id=" + client);
    return 0;
}
