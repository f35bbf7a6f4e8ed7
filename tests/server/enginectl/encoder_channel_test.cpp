// The server side of the engine pipes without a real engine: framing, the
// message handler's length checks, pipe numbers and folder, and the start and
// connect rules of CEncoder with stand-in processes.

#include "enginectl/encoder.h"
#include "platform/process.h"
#include "platform/unix_socket.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> Frame(uint8_t type, const std::vector<uint8_t>& payload)
{
    uint32_t length = static_cast<uint32_t>(payload.size());
    std::vector<uint8_t> bytes { type, static_cast<uint8_t>(length),
        static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length >> 16),
        static_cast<uint8_t>(length >> 24) };
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

struct Dispatched {
    uint8_t type;
    std::vector<uint8_t> payload;
};

std::vector<uint8_t> Word(uint32_t value)
{
    return { static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24) };
}

struct Notice {
    uint32_t message;
    uintptr_t wParam;
    uintptr_t lParam;
};

} // namespace

TEST(EngineFraming, FrameSplitOverReadsIsDispatchedWhenComplete)
{
    EngineFrameReader reader;
    std::vector<Dispatched> got;
    auto handler = [&](uint8_t type, const uint8_t* payload, uint32_t length) {
        got.push_back({ type, std::vector<uint8_t>(payload, payload + length) });
    };
    std::vector<uint8_t> bytes = Frame(14, std::vector<uint8_t>(24, 7));
    ASSERT_TRUE(reader.Feed(bytes.data(), 3, handler));
    ASSERT_TRUE(reader.Feed(bytes.data() + 3, 10, handler));
    EXPECT_TRUE(got.empty());
    ASSERT_TRUE(reader.Feed(bytes.data() + 13, bytes.size() - 13, handler));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].type, 14);
    EXPECT_EQ(got[0].payload, std::vector<uint8_t>(24, 7));
    EXPECT_EQ(reader.Held(), 0u);
}

TEST(EngineFraming, SeveralFramesInOneReadAreDispatchedInOrder)
{
    EngineFrameReader reader;
    std::vector<uint8_t> bytes = Frame(5, {});
    for (const auto& more :
        { Frame(14, std::vector<uint8_t>(24, 1)), Frame(15, std::vector<uint8_t>(24, 2)) })
        bytes.insert(bytes.end(), more.begin(), more.end());
    std::vector<uint8_t> partial = Frame(16, Word(2));
    bytes.insert(bytes.end(), partial.begin(), partial.end() - 1);
    std::vector<uint8_t> types;
    auto handler = [&](uint8_t type, const uint8_t* payload, uint32_t length) {
        EXPECT_EQ(payload == nullptr, length == 0);
        types.push_back(type);
    };
    ASSERT_TRUE(reader.Feed(bytes.data(), bytes.size(), handler));
    EXPECT_EQ(types, (std::vector<uint8_t> { 5, 14, 15 }));
    EXPECT_EQ(reader.Held(), 8u);
    ASSERT_TRUE(reader.Feed(&partial.back(), 1, handler));
    EXPECT_EQ(types.back(), 16);
}

TEST(EngineFraming, BufferGrowsByTheMissingSizeAndSlack)
{
    EngineFrameReader reader(16);
    std::vector<uint8_t> bytes = Frame(7, std::vector<uint8_t>(100, 3));
    int calls = 0;
    auto handler = [&](uint8_t, const uint8_t*, uint32_t length) {
        EXPECT_EQ(length, 100u);
        ++calls;
    };
    ASSERT_TRUE(reader.Feed(bytes.data(), 10, handler));
    EXPECT_EQ(reader.Capacity(), 16u);
    ASSERT_TRUE(reader.Feed(bytes.data() + 10, 20, handler));
    EXPECT_EQ(reader.Capacity(), 20u + 16 + 5120);
    ASSERT_TRUE(reader.Feed(bytes.data() + 30, bytes.size() - 30, handler));
    EXPECT_EQ(calls, 1);
}

TEST(EngineFraming, AnImpossibleLengthIsRefused)
{
    EngineFrameReader reader;
    uint8_t bytes[5] = { 7, 0xFF, 0xFF, 0xFF, 0xFF };
    EXPECT_FALSE(
        reader.Feed(bytes, sizeof bytes, [](uint8_t, const uint8_t*, uint32_t) { FAIL(); }));
}

TEST(EngineMessages, ImageSizeWordMustMatchThePixels)
{
    CEncoder encoder;
    std::vector<uint8_t> image(48, 0);
    image[0] = 40;
    image[4] = 2; // width 2
    image[8] = 0xFF, image[9] = 0xFF, image[10] = 0xFF, image[11] = 0xFF; // height -1
    image[20] = 8; // image size 8 (one row of 6 bytes padded to 8)
    std::vector<uint8_t> pixels { 1, 2, 3, 4, 5, 6, 0, 0 };
    std::vector<uint8_t> good = image;
    good.insert(good.end(), pixels.begin(), pixels.end());
    encoder.HandleEngineMessage(
        EngineMessage::Image, good.data(), static_cast<uint32_t>(good.size()));
    ASSERT_NE(encoder.LastImage(), nullptr);
    EXPECT_EQ(encoder.LastImage()->pixels, pixels);
    EXPECT_EQ(encoder.LastImage()->Width(), 2);
    EXPECT_EQ(encoder.LastImage()->HeightWord(), -1);

    std::vector<uint8_t> bad = good;
    bad.push_back(9); // one byte more than the size word says
    encoder.HandleEngineMessage(
        EngineMessage::Image, bad.data(), static_cast<uint32_t>(bad.size()));
    ASSERT_NE(encoder.LastImage(), nullptr);
    EXPECT_EQ(encoder.LastImage()->Width(), 2) << "the header is kept";
    EXPECT_TRUE(encoder.LastImage()->pixels.empty()) << "but not the pixels";

    CEncoder fresh;
    fresh.HandleEngineMessage(
        EngineMessage::Image, image.data(), 48); // a header alone is too short
    EXPECT_EQ(fresh.LastImage(), nullptr);
}

TEST(EngineMessages, NoticesCarryTheirCodesAndLengthsAreChecked)
{
    CEncoder encoder;
    std::vector<Notice> notices;
    encoder.SetNotifyTarget(
        [&](uint32_t m, uintptr_t w, uintptr_t l) {
            notices.push_back({ m, w, l });
        },
        0x1234);
    std::vector<uint8_t> shortError { 1, 2 };
    encoder.HandleEngineMessage(EngineMessage::Error, shortError.data(), 2);
    std::vector<uint8_t> code = Word(0x00012345);
    encoder.HandleEngineMessage(EngineMessage::Error, code.data(), 4);
    encoder.HandleEngineMessage(EngineMessage::Error, nullptr, 0);
    std::vector<uint8_t> complete(24, 0);
    complete[16] = 0x10, complete[17] = 0x27; // 10000 ms in word 5
    encoder.HandleEngineMessage(EngineMessage::Complete, complete.data(), 24);
    encoder.HandleEngineMessage(
        EngineMessage::Complete, complete.data(), 20); // wrong length: ignored
    encoder.HandleEngineMessage(99, complete.data(), 24); // unknown: ignored
    ASSERT_EQ(notices.size(), 4u);
    EXPECT_EQ(notices[0].message, WM_APP_ENC_ERROR);
    EXPECT_EQ(notices[0].wParam, 0xFFFEu) << "message 16 with a 2-byte payload";
    EXPECT_EQ(notices[0].lParam, 0x1234u);
    EXPECT_EQ(notices[1].wParam, 0x2345u) << "the code is cut to 16 bits";
    EXPECT_EQ(notices[2].wParam, 0xFFFEu);
    EXPECT_EQ(notices[3].message, WM_APP_ENC_COMPLETE);
    EXPECT_EQ(notices[3].wParam, 10000u);

    CEncoder silent; // no notify target: nothing to tell, nothing breaks
    silent.HandleEngineMessage(EngineMessage::Error, code.data(), 4);
    silent.HandleEngineMessage(EngineMessage::Complete, complete.data(), 24);
}

TEST(EngineMessages, StatusInformationAndTextRecords)
{
    CEncoder encoder;
    EngineStatus status;
    encoder.SetStatusTarget(&status);
    std::vector<uint8_t> payload(24, 0);
    double position = 42.5;
    memcpy(payload.data() + 8, &position, 8);
    payload[16] = 0xE8, payload[17] = 0x03; // 1000 ms
    encoder.HandleEngineMessage(EngineMessage::Status, payload.data(), 24);
    EXPECT_DOUBLE_EQ(status.PositionSeconds(), 42.5);
    EXPECT_EQ(status.TotalMs(), 1000u);
    payload[16] = 0;
    encoder.HandleEngineMessage(EngineMessage::Status, payload.data(), 23);
    EXPECT_EQ(status.TotalMs(), 1000u) << "a status of the wrong length is ignored";

    std::vector<uint8_t> info(840, 9);
    encoder.HandleEngineMessage(EngineMessage::Request, info.data(), 839);
    EXPECT_FALSE(encoder.LastInfo().has_value());
    encoder.HandleEngineMessage(EngineMessage::Request, info.data(), 840);
    ASSERT_TRUE(encoder.LastInfo().has_value());
    EXPECT_EQ((*encoder.LastInfo())[839], 9);

    std::vector<uint8_t> text(16, 1);
    encoder.HandleEngineMessage(EngineMessage::Text, text.data(), 16);
    EXPECT_EQ(encoder.LastText(), nullptr);
    text.push_back('A');
    text.push_back('B');
    encoder.HandleEngineMessage(EngineMessage::Text, text.data(), 18);
    ASSERT_NE(encoder.LastText(), nullptr);
    EXPECT_EQ(encoder.LastText()->text, (std::vector<uint8_t> { 'A', 'B' }));
}

TEST(EnginePipes, NumbersStartAbove50000AndTheFolderIsPrivate)
{
    int first = NextEnginePipeNumber();
    EXPECT_GE(first, 50001);
    EXPECT_EQ(NextEnginePipeNumber(), first + 1);
    std::string folder = GetEnginePipeFolder();
    ASSERT_FALSE(folder.empty());
    struct stat info { };
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_NE(folder.find("vembacast-"), std::string::npos);
    EXPECT_NE(folder.find(std::to_string(getpid())), std::string::npos);
}

namespace {

// A process that stays "running" until killed, and may connect like an engine.
class FakeChild final : public ChildProcess {
public:
    explicit FakeChild(std::atomic<int>& kills)
        : m_kills(kills)
    {
    }
    pid_t Pid() const override { return 4242; }
    bool IsRunning() override { return !m_killed; }
    bool WaitForExit(std::chrono::milliseconds timeout) override
    {
        std::this_thread::sleep_for(std::min(timeout, std::chrono::milliseconds(20)));
        return m_killed;
    }
    bool Kill() override
    {
        if (m_killed.exchange(true))
            return false;
        ++m_kills;
        return true;
    }

private:
    std::atomic<bool> m_killed { false };
    std::atomic<int>& m_kills;
};

class FakeSpawner final : public ProcessSpawner {
public:
    bool connect = true;
    std::atomic<int> kills { 0 };
    UniqueFd send; // what the engine would read
    UniqueFd rcv;
    SpawnRequest last;

    std::unique_ptr<ChildProcess> Spawn(const SpawnRequest& request) override
    {
        last = request;
        if (connect) {
            std::string folder = request.environment.at(0).second;
            std::string number = request.args.back().substr(strlen("-pipename="));
            send = ConnectUnixSocket(folder + "/QZ_Vemba_Pipe_Send" + number);
            rcv = ConnectUnixSocket(folder + "/QZ_Vemba_Pipe_Rcv" + number);
        }
        return std::make_unique<FakeChild>(kills);
    }

    std::vector<uint8_t> Received()
    {
        std::vector<uint8_t> bytes(64);
        ssize_t got = ReadSome(send.Get(), bytes.data(), bytes.size(), 200ms, -1);
        bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return bytes;
    }
};

} // namespace

TEST(EncoderStart, StartParametersOnceAndStartEncodingOnlyOnce)
{
    auto spawner = std::make_shared<FakeSpawner>();
    CEncoder encoder(spawner);
    EXPECT_EQ(encoder.StartEncoding(), 0) << "no engine yet";
    int number = encoder.CreateEnginePipe();
    ASSERT_GE(number, 50001);
    // The arguments reach the spawn word for word, whatever they hold.
    const std::vector<std::string> arguments { "/m/My \"odd\" \\ film.mp4", "-o", "/s/x y.ts", "",
        "-pipename=" + std::to_string(number) };
    ASSERT_EQ(encoder.RunQZEncEngine(arguments), 1);
    EXPECT_EQ(spawner->last.args, arguments);
    EXPECT_EQ(spawner->last.environment.at(0).first, "VEMBACAST_PIPE_DIR");
    EXPECT_EQ(encoder.StartEncoding(), 1);
    EXPECT_EQ(encoder.StartEncoding(), 0) << "a second start sends nothing";
    std::vector<uint8_t> expected { 2, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0 };
    EXPECT_EQ(spawner->Received(), expected);
    EXPECT_EQ(encoder.IsENCRunning(), 1);
    EXPECT_EQ(encoder.GetEngineProcessId(), 4242);
    EXPECT_EQ(encoder.QuitEncoding(), 1);
    EXPECT_EQ(spawner->kills.load(), 1) << "an engine that does not end on quit is terminated";
    EXPECT_EQ(encoder.IsENCRunning(), 0);
}

TEST(EncoderStart, EngineThatNeverConnectsFailsAtTheBound)
{
    auto spawner = std::make_shared<FakeSpawner>();
    spawner->connect = false;
    CEncoder encoder(spawner);
    encoder.SetConnectBound(300ms);
    int number = encoder.CreateEnginePipe();
    ASSERT_GE(number, 50001);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(encoder.CreateEngine({ "-pipename=" + std::to_string(number) }), 0);
    auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 250ms);
    EXPECT_LT(waited, 5s);
    EXPECT_EQ(encoder.QuitEncoding(), 1);
    EXPECT_EQ(spawner->kills.load(), 1);
}

TEST(EncoderStart, NoPipeNoStartAndADeadEngineIsNotWaitedFor)
{
    CEncoder encoder;
    EXPECT_EQ(encoder.CreateEngine({ "-pipename=1" }), 0) << "CreateEnginePipe first";
    EXPECT_EQ(encoder.EngineRequest("/x.mp4"), nullptr);

    encoder.SetEnginePath("/bin/true"); // ends at once without connecting
    int number = encoder.CreateEnginePipe();
    ASSERT_GE(number, 50001);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(encoder.RunQZEncEngine({ "-pipename=" + std::to_string(number) }), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(encoder.IsENCRunning(), 0);

    encoder.SetEnginePath("/nonexistent/engine");
    ASSERT_GE(encoder.CreateEnginePipe(), 50001);
    EXPECT_EQ(encoder.CreateEngine({ "-pipename=1" }), 0);
    EXPECT_EQ(encoder.QuitEncoding(), 1);
}

TEST(PosixSpawner, FinishedChildrenAreReapedAndKillWorks)
{
    auto spawner = MakePosixSpawner();
    std::unique_ptr<ChildProcess> quick
        = spawner->Spawn({ "/bin/sh", { "-c", "exit 3" }, {}, {}, true });
    ASSERT_NE(quick, nullptr);
    EXPECT_TRUE(quick->WaitForExit(5s));
    EXPECT_FALSE(quick->IsRunning());
    EXPECT_FALSE(quick->Kill()) << "nothing left to kill";

    std::unique_ptr<ChildProcess> slow = spawner->Spawn({ "/bin/sleep", { "30" }, {}, {}, true });
    ASSERT_NE(slow, nullptr);
    EXPECT_TRUE(slow->IsRunning());
    EXPECT_FALSE(slow->WaitForExit(50ms));
    EXPECT_TRUE(slow->Kill());
    EXPECT_FALSE(slow->IsRunning());

    // The extra environment reaches the child: it waits only when it sees it.
    std::unique_ptr<ChildProcess> env = spawner->Spawn(
        { "/bin/sh", { "-c", "test \"$VEMBA_SPAWN_CHECK\" = yes && exec sleep 30" },
            { { "VEMBA_SPAWN_CHECK", "yes" } }, {}, true });
    ASSERT_NE(env, nullptr);
    EXPECT_FALSE(env->WaitForExit(300ms));
    EXPECT_TRUE(env->Kill());
    EXPECT_EQ(spawner->Spawn({ "/nonexistent/program", {}, {}, {}, true }), nullptr);
}
