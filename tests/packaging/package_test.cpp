// The Debian package as it would be installed (unpacked by the package_build fixture):
// what it holds, that its programs run from wherever it is unpacked, that lintian has
// nothing to say, and that systemd accepts its units and rates the system service's
// exposure as OK.

#include "support/test_support.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;
using vembatest::RunCommand;
using vembatest::ShellQuote;

namespace {

const std::string kOut = VEMBACAST_PACKAGE_TEST_DIR;
const std::string kRoot = kOut + "/root";

std::string ReadText(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string PackageFile()
{
    for (const auto& entry : fs::directory_iterator(kOut))
        if (entry.path().extension() == ".deb")
            return entry.path();
    return std::string();
}

// The unit with the installed programs' paths moved into the unpacked root, so systemd
// can check that they are there.
std::string UnitForVerify(const std::string& unit, const std::string& folder)
{
    std::string text
        = std::regex_replace(ReadText(kRoot + unit), std::regex("/usr/bin/"), kRoot + "/usr/bin/");
    fs::create_directories(folder);
    std::string path = folder + "/" + fs::path(unit).filename().string();
    std::ofstream(path) << text;
    return path;
}

TEST(PackageTest, TheInstalledCopyIsCompleteAndRunsWhereverItIsUnpacked)
{
    // The browser client's player, which only the program folder's resources hold.
    EXPECT_TRUE(fs::is_regular_file(kRoot + "/usr/share/vembacast/res/web/vendor/hls.mjs"));
    EXPECT_TRUE(fs::is_regular_file(kRoot + "/usr/share/vembacast/res/web/index.html"));
    // The installed app's icons, which the build draws.
    for (const char* icon : { "icon-192.png", "icon-512.png", "icon-maskable-512.png" })
        EXPECT_TRUE(fs::is_regular_file(kRoot + "/usr/share/vembacast/res/web/icons/" + icon))
            << icon;
    EXPECT_TRUE(fs::is_regular_file(kRoot + "/usr/share/doc/vembacast/copyright"));
    for (const std::string command :
        { "vembacastd", "vembacast", "vembacast-console", "subvoro-convert", "vembacast-trace" }) {
        std::string link = kRoot + "/usr/bin/" + command;
        ASSERT_TRUE(fs::is_symlink(link)) << command;
        EXPECT_EQ(fs::read_symlink(link), "../lib/vembacast/" + command);
        EXPECT_TRUE(fs::is_regular_file(kRoot + "/usr/share/man/man1/" + command + ".1.gz"))
            << command;
        std::string output;
        EXPECT_TRUE(RunCommand(ShellQuote(link) + " --version", &output)) << output;
        EXPECT_EQ(output.rfind(command + " (VembaCast) ", 0), 0u) << output;
    }
    for (const std::string helper : { "vembacast-engine", "vembacast-mediainfo" }) {
        std::string output;
        EXPECT_TRUE(
            RunCommand(ShellQuote(kRoot + "/usr/lib/vembacast/" + helper) + " --version", &output));
        EXPECT_EQ(output.rfind(helper + " (VembaCast) " VEMBACAST_VERSION_TEXT "\n", 0), 0u)
            << output;
    }
    EXPECT_TRUE(fs::is_regular_file(kRoot + "/usr/lib/vembacast/libssl.so"));

    // The units name the installed programs, not the build's or /usr/local's.
    EXPECT_NE(ReadText(kRoot + "/usr/lib/systemd/system/vembacastd.service")
                  .find("ExecStart=/usr/bin/vembacastd --data-dir /var/lib/vembacast "
                        "--shares-file /etc/vembacast/shares"),
        std::string::npos);
    EXPECT_NE(ReadText(kRoot + "/usr/lib/systemd/user/vembacastd.service")
                  .find("ExecStart=/usr/bin/vembacastd\n"),
        std::string::npos);
    EXPECT_NE(ReadText(kRoot + "/usr/lib/systemd/system/vembacast-console.service")
                  .find("ExecStart=/usr/bin/vembacast-console "),
        std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(kRoot + "/etc/vembacast/shares"));
}

TEST(PackageTest, LintianHasNothingToSay)
{
    std::string deb = PackageFile();
    ASSERT_FALSE(deb.empty());
    std::string output;
    EXPECT_TRUE(RunCommand("lintian " + ShellQuote(deb), &output)) << output;
    // Lintian warns of running as root, which is about this machine, not the package.
    std::string findings = std::regex_replace(output, std::regex(".*root privileges.*\n?"), "");
    EXPECT_EQ(findings, "");

    std::string control;
    ASSERT_TRUE(RunCommand("dpkg-deb -I " + ShellQuote(deb), &control));
    EXPECT_NE(control.find("postinst"), std::string::npos);
    EXPECT_NE(control.find(" adduser"), std::string::npos) << control;
    EXPECT_NE(control.find("libssl3"), std::string::npos) << control;
    EXPECT_EQ(control.find("/usr/local"), std::string::npos);
}

TEST(PackageTest, SystemdAcceptsTheUnitsAndRatesTheServicesExposureOk)
{
    std::string folder = kOut + "/verify";
    std::string manuals = "MANPATH=" + ShellQuote(kRoot + "/usr/share/man") + ": ";
    for (const std::string unit : { "/usr/lib/systemd/system/vembacastd.service",
             "/usr/lib/systemd/system/vembacast-console.service" }) {
        std::string output;
        EXPECT_TRUE(RunCommand(
            manuals + "systemd-analyze verify " + ShellQuote(UnitForVerify(unit, folder)), &output))
            << unit << ": " << output;
        EXPECT_EQ(output, "") << unit;

        ASSERT_TRUE(RunCommand("systemd-analyze security --offline=true "
                + ShellQuote(UnitForVerify(unit, folder)) + " | tail -n 1",
            &output));
        std::smatch level;
        ASSERT_TRUE(
            std::regex_search(output, level, std::regex("exposure level for .*: ([0-9.]+) ")))
            << output;
        EXPECT_LE(std::stod(level[1]), 2.0) << output;
        std::printf("%s", output.c_str());
    }

    vembatest::TempFolder runtime("vembaxdg");
    std::string output;
    EXPECT_TRUE(RunCommand("XDG_RUNTIME_DIR=" + ShellQuote(runtime.Path()) + " " + manuals
            + "systemd-analyze --user verify "
            + ShellQuote(
                UnitForVerify("/usr/lib/systemd/user/vembacastd.service", folder + "/user")),
        &output))
        << output;
    EXPECT_EQ(output, "");
}

} // namespace
