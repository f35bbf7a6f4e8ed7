// subvoro-convert as a separate process, and the library's exported symbols.
#include "subconv_test_util.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace subvoro::test;

namespace {

struct CliResult {
    int status = -1;
    std::string err;
};

using vembatest::ShellQuote;

CliResult Convert(const CTempFolder& folder, const std::string& args)
{
    const std::string errPath = folder.Path("stderr.txt");
    const std::string cmd = ShellQuote(SUBVORO_CONVERT) + " " + args + " 2>" + ShellQuote(errPath);
    const int rc = std::system(cmd.c_str());
    CliResult run;
    run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    run.err = ReadFile(errPath);
    return run;
}

int Lines(const std::string& text)
{
    return int(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

TEST(SubvoroConvert, WritesTheServersScriptAndExitsZero)
{
    CTempFolder folder;
    WriteFile(folder.Path("in.smi"),
        TwoLanguageSami(
            "<SYNC Start=1500><P Class=KRCC>Annyeong\n<SYNC Start=1500><P Class=ENCC>Hello\n"
            "<SYNC Start=4000><P Class=KRCC>&nbsp;\n<SYNC Start=4000><P Class=ENCC>&nbsp;\n"));
    const CliResult run = Convert(folder,
        "--lang EN --screen 640x480 --server-style " + ShellQuote(folder.Path("in.smi")) + " "
            + ShellQuote(folder.Path("out")));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string ass = ReadFile(folder.Path("out.ass"));
    EXPECT_NE(
        ass.find(
            "Style: "
            "Default,Arial,36,&H00ffffff,&H0000ffff,&H00000000,&H80000000,-1,0,0,0,100,100,0,0.00,"
            "1,1,8421504,2,20,20,10,1\r\n"),
        std::string::npos);
    EXPECT_NE(ass.find("Dialogue: 0,0:00:01.50,0:00:04.00,Default,,0000,0000,0000,,Hello\r\n"),
        std::string::npos);

    EXPECT_EQ(Convert(folder,
                  ShellQuote(folder.Path("in.smi")) + " " + ShellQuote(folder.Path("out")) + " SRT")
                  .status,
        0);
    EXPECT_EQ(ReadFile(folder.Path("out.srt")),
        "1\r\n00:00:01,500 --> 00:00:01,500\r\nAnnyeong\r\n\r\n2\r\n00:00:01,500 --> "
        "00:00:04,000\r\nHello\r\n\r\n");
}

TEST(SubvoroConvert, EachFailureHasItsStatusAndOneLine)
{
    CTempFolder folder;
    WriteFile(folder.Path("notes.txt"), "nothing timed\n");
    WriteFile(folder.Path("bad.srt"), "1\n00:00:01,000 --> 00:00:02,000\nHi\n\n2\nnot a time\n");
    const std::string notes = ShellQuote(folder.Path("notes.txt"));
    const std::string out = ShellQuote(folder.Path("o"));
    struct Case {
        std::string args;
        int status;
        std::string says;
    };
    const Case cases[] = {
        { ShellQuote(folder.Path("missing.smi")) + " " + out, 1, "cannot open" },
        { ShellQuote(folder.Path("bad.srt")) + " " + out, 2, "Syntax error at line 6" },
        { "--server-style " + notes + " " + out, 3, "no subtitle entries" },
        { notes + " " + ShellQuote(folder.Path("no/such/dir/o")), 4, "cannot write" },
        { notes + " " + out + " docx", 64, "unknown format" },
        { "--screen 640 " + notes + " " + out, 64, "bad screen size" },
    };
    for (const Case& c : cases) {
        const CliResult run = Convert(folder, c.args);
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(Lines(run.err), 1) << run.err;
    }
    EXPECT_EQ(
        Convert(folder, notes + " " + out).status, 0); // a plain text file opens with no entries
}

TEST(SubvoroLibrary, ExportsOnlyTheConverterClass)
{
    std::string listing;
    ASSERT_TRUE(
        vembatest::RunCommand("nm -D --defined-only -C " + ShellQuote(SUBVORO_LIBRARY), &listing))
        << listing;
    int symbols = 0;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        ++symbols;
        EXPECT_NE(line.find(" CSubvoroter::"), std::string::npos) << line;
    }
    EXPECT_GE(symbols, 10);
}
