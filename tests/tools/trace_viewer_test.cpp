#include "config/trace.h"
#include "server/platform/temp_folder.h"
#include "trace_viewer.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

TEST(TraceViewer, PrintsTheLevelWordInHexThenTheText)
{
    EXPECT_EQ(FormatTraceDatagram("\x10\x00\x01\x00Noti : OnNotifyConnect: ('x')"s),
        "0x10010 Noti : OnNotifyConnect: ('x')");
    EXPECT_EQ(FormatTraceDatagram("\x09\x00\x20\x00"s), "0x200009 ");
    EXPECT_EQ(FormatTraceDatagram("\xff\xff\xff\xff"s
                                  "a\r\nb"),
        "0xFFFFFFFF a  b");
    EXPECT_EQ(FormatTraceDatagram("\x01\x02\x03"s), std::nullopt);
}

TEST(TraceViewer, ReceivesWhatTheTraceLogSends)
{
    TempFolder runtime;
    TempFolder traceDir;
    ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", runtime.path());
    ScopedEnv traceEnv("VEMBACAST_TRACE_DIR", traceDir.path());
    ResetTraceStateForTesting();
    TraceViewerSocket viewer(runtime / "Displayer");
    ASSERT_TRUE(viewer.isOpen()) << viewer.error();
    TraceMessage(kTraceWindow, "MakeLiveCommandLine - BANDWIDTH:%d", 576);
    auto datagram = viewer.receive(1000);
    ASSERT_TRUE(datagram);
    EXPECT_EQ(FormatTraceDatagram(*datagram), "0x10008 MakeLiveCommandLine - BANDWIDTH:576");
    ResetTraceStateForTesting();
}

TEST(TraceViewer, ASecondViewerDoesNotStealTheSocket)
{
    TempFolder runtime;
    std::string path = runtime / "Displayer";
    TraceViewerSocket first(path);
    ASSERT_TRUE(first.isOpen());
    TraceViewerSocket second(path);
    EXPECT_FALSE(second.isOpen());
    EXPECT_NE(second.error().find("already listening"), std::string::npos);
}

TEST(TraceViewer, ALeftOverSocketFileIsReplaced)
{
    TempFolder runtime;
    std::string path = runtime / "Displayer";
    {
        TraceViewerSocket gone(path);
        ASSERT_TRUE(gone.isOpen());
    }
    WriteFileText(path, ""); // a stale file where the socket was
    TraceViewerSocket viewer(path);
    EXPECT_TRUE(viewer.isOpen()) << viewer.error();
}

} // namespace
