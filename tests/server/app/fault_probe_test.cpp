// Probes of the running daemon from outside, each with the outcome it must have: the
// faults a hostile or careless client could cause, repeated at test size.

#include "daemon_process.h"
#include "platform/places.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace fs = std::filesystem;

namespace {

// The daemon and its clients inside a network namespace of their own, where the
// address 198.51.100.7 (a documentation address) sits on a virtual interface: a request
// from it is a request from outside the home network, and nothing leaves the machine.
std::string RunInOwnNetwork(const std::string& script, bool* ran)
{
    std::string output;
    *ran = vembatest::RunCommand("unshare -rn sh -ec "
            + vembatest::ShellQuote(
                "ip link set lo up; ip link add probe0 type veth peer name probe1; "
                "ip addr add 198.51.100.7/24 dev probe0; ip link set probe1 up; "
                "ip link set probe0 up; "
                + script),
        &output);
    return output;
}

bool CanMakeOwnNetwork()
{
    return vembatest::RunCommand("unshare -rn ip link add probe0 type veth peer name probe1");
}

} // namespace

// The value printed after "name=" on a line of its own.
std::string Printed(const std::string& output, const std::string& name)
{
    size_t at = output.find("\n" + name + "=");
    if (at == std::string::npos)
        return std::string();
    at += name.size() + 2;
    return output.substr(at, output.find('\n', at) - at);
}

TEST(FaultProbeTest, ServerOffFromOutsideTheHomeNetworkIsRefusedAndFromLoopbackAccepted)
{
    if (!CanMakeOwnNetwork())
        GTEST_SKIP() << "no network namespaces here";
    vembatest::TempFolder root("vembaprobe");
    const std::string marker = root.Path() + "/powered-off";
    fs::create_directories(root.Path() + "/media");
    const std::string daemon = vembatest::ShellQuote(GetProgramFolder() + "/vembacastd");
    // The stand-in for a power-off ends the daemon as a real one would, so the script
    // waits for it instead of for time. curl retries until the daemon listens.
    const std::string powerOff = "touch " + vembatest::ShellQuote(marker) + "; kill $PPID";
    const std::string fetch = "curl -s --retry 100 --retry-connrefused --retry-delay 0 ";
    const std::string script = "VEMBACAST_SHUTDOWN_COMMAND=" + vembatest::ShellQuote(powerOff) + " "
        + daemon + " --data-dir " + vembatest::ShellQuote(root.Path() + "/data")
        + " --port 47002 --share Movies=" + vembatest::ShellQuote(root.Path() + "/media") + " >"
        + vembatest::ShellQuote(root.Path() + "/daemon.log") + " 2>&1 & pid=$!; "
        + "echo; echo outside=$(" + fetch + "http://198.51.100.7:47002/serverOff); "
        + "echo outside_marker=$(test -e " + vembatest::ShellQuote(marker) + " && echo yes); "
        + "echo home=$(" + fetch + "http://127.0.0.1:47002/serverOff); "
        + "wait $pid || true; echo exited";
    bool ran = false;
    std::string output = RunInOwnNetwork(script, &ran);
    ASSERT_TRUE(ran) << output;
    EXPECT_NE(
        Printed(output, "outside").find("<key>result</key><string>-18</string>"), std::string::npos)
        << output;
    EXPECT_EQ(Printed(output, "outside_marker"), "");
    EXPECT_NE(
        Printed(output, "home").find("<key>result</key><string>0</string>"), std::string::npos)
        << output;
    EXPECT_NE(output.find("\nexited"), std::string::npos);
    EXPECT_TRUE(fs::exists(marker)) << output;
}
