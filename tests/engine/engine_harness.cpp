#include "engine/engine_harness.h"

#include "engine/test_media.h"
#include "enginectl/engine_pipe.h"
#include "platform/places.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<int> g_nextPipe { 61000 };

} // namespace

uint32_t RecordedMessage::Word(size_t index) const
{
    if (payload.size() < 4 * index + 4)
        return 0;
    const uint8_t* p = payload.data() + 4 * index;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

double RecordedMessage::Position() const
{
    uint64_t bits = Word(2) | static_cast<uint64_t>(Word(3)) << 32;
    double value = 0;
    memcpy(&value, &bits, sizeof value);
    return value;
}

std::string EnginePath()
{
    return GetProgramFolder() + "/vembacast-engine";
}

EngineHarness::EngineHarness()
    : m_folder(MakeTempFolder("vemba-pipes"))
    , m_pipe(++g_nextPipe)
{
}

EngineHarness::~EngineHarness()
{
    m_stop.Signal();
    if (m_reader.joinable())
        m_reader.join();
    m_process.reset();
    RemoveTree(m_folder);
}

bool EngineHarness::Launch(const std::vector<std::string>& arguments)
{
    std::string base = m_folder + "/QZ_Vemba_Pipe_";
    UniqueFd listenSend = ListenUnixSocket(base + "Send" + std::to_string(m_pipe));
    UniqueFd listenRcv = ListenUnixSocket(base + "Rcv" + std::to_string(m_pipe));
    if (!listenSend || !listenRcv)
        return false;
    SpawnRequest request;
    request.program = EnginePath();
    request.args = arguments;
    request.environment.emplace_back("VEMBACAST_PIPE_DIR", m_folder);
    m_process = MakePosixSpawner()->Spawn(request);
    if (!m_process)
        return false;
    m_send = AcceptUnixSocket(listenSend.Get(), std::chrono::seconds(10), -1);
    m_rcv = AcceptUnixSocket(listenRcv.Get(), std::chrono::seconds(10), -1);
    if (!m_send || !m_rcv)
        return false;
    m_reader = std::thread([this] { ReadLoop(); });
    return true;
}

void EngineHarness::ReadLoop()
{
    EngineFrameReader reader;
    std::vector<uint8_t> chunk(1 << 16);
    while (true) {
        ssize_t got = ReadSome(
            m_rcv.Get(), chunk.data(), chunk.size(), std::chrono::milliseconds(100), m_stop.Fd());
        if (got < 0)
            break;
        if (got == 0) {
            uint64_t value = 0;
            if (read(m_stop.Fd(), &value, sizeof value) > 0)
                break;
            continue;
        }
        reader.Feed(chunk.data(), static_cast<size_t>(got),
            [&](uint8_t type, const uint8_t* payload, uint32_t length) {
                RecordedMessage message;
                message.type = type;
                if (length)
                    message.payload.assign(payload, payload + length);
                message.at = std::chrono::steady_clock::now();
                std::lock_guard lock(m_lock);
                m_messages.push_back(std::move(message));
                m_changed.notify_all();
            });
    }
}

bool EngineHarness::Send(uint8_t type, const std::vector<uint8_t>& payload)
{
    uint32_t length = static_cast<uint32_t>(payload.size());
    uint8_t header[5] = { type, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
        static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24) };
    return m_send && WriteAll(m_send.Get(), header, 5, std::chrono::seconds(2))
        && (payload.empty()
            || WriteAll(m_send.Get(), payload.data(), payload.size(), std::chrono::seconds(2)));
}

bool EngineHarness::SendStart()
{
    return Send(EngineMessage::StartParameters, std::vector<uint8_t>(8, 0))
        && Send(EngineMessage::StartEncoding);
}

std::optional<RecordedMessage> EngineHarness::WaitFor(
    uint8_t type, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_lock);
    std::optional<RecordedMessage> found;
    m_changed.wait_for(lock, timeout, [&] {
        for (const RecordedMessage& message : m_messages) {
            if (message.type == type) {
                found = message;
                return true;
            }
        }
        return false;
    });
    return found;
}

std::vector<RecordedMessage> EngineHarness::Messages() const
{
    std::lock_guard lock(m_lock);
    return m_messages;
}

bool EngineHarness::WaitExit(std::chrono::milliseconds timeout)
{
    return m_process && m_process->WaitForExit(timeout);
}

bool EngineHarness::Running()
{
    return m_process && m_process->IsRunning();
}

void EngineHarness::DropServer()
{
    m_stop.Signal();
    if (m_reader.joinable())
        m_reader.join();
    m_send.Reset();
    m_rcv.Reset();
}
