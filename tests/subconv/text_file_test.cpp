#include "subconv_test_util.h"

#include <gtest/gtest.h>

using namespace subvoro;
using namespace subvoro::test;

namespace {

std::vector<std::wstring> AllLines(CTextFile& file)
{
    std::vector<std::wstring> lines;
    std::wstring line;
    while (file.ReadString(line))
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(TextFile, ByteOrderMarksPickTheEncodingAndAreLeftOutOfPositions)
{
    struct Case {
        std::string bytes;
        TextEncoding encoding;
        int64_t length;
    };
    const Case cases[] = {
        { "ab\r\nc", TextEncoding::Ascii, 5 },
        { "\xEF\xBB\xBF"
          "ab\r\nc",
            TextEncoding::Utf8, 5 },
        { std::string("\xFF\xFE"
                      "a\0b\0\n\0c\0",
              10),
            TextEncoding::Utf16Le, 8 },
        { std::string("\xFE\xFF\0a\0b\0\n\0c", 10), TextEncoding::Utf16Be, 8 },
    };
    for (const Case& c : cases) {
        CTextFile file;
        ASSERT_TRUE(file.OpenMemory(c.bytes));
        EXPECT_EQ(file.GetEncoding(), c.encoding);
        EXPECT_EQ(file.GetPosition(), 0);
        EXPECT_EQ(file.GetLength(), c.length);
        EXPECT_EQ(AllLines(file), (std::vector<std::wstring> { L"ab", L"c" }));
        EXPECT_EQ(file.GetPosition(), c.length);
        EXPECT_EQ(file.Seek(-100, CTextFile::SeekFrom::Current), 0); // clamped to the start
        EXPECT_EQ(file.Seek(100, CTextFile::SeekFrom::Begin), c.length); // and to the end
    }
}

TEST(TextFile, BrokenInputReadsSafely)
{
    CTextFile odd; // UTF-16 with a lone last byte
    odd.OpenMemory(std::string("\xFF\xFE"
                               "A\0B",
        5));
    EXPECT_EQ(AllLines(odd), std::vector<std::wstring> { L"A" });

    CTextFile utf8; // bad lead bytes and a sequence cut by the line end
    utf8.OpenMemory("\xEF\xBB\xBF"
                    "a\x80"
                    "b\xE2\x82\n\xF0\x9F\x98\x80");
    EXPECT_EQ(AllLines(utf8), (std::vector<std::wstring> { L"a?b??", L"\U0001F600" }));

    CTextFile tiny; // just the first two bytes of a UTF-8 mark
    tiny.OpenMemory("\xEF\xBB");
    EXPECT_EQ(tiny.GetLength(), 0);
    EXPECT_TRUE(AllLines(tiny).empty());
}

TEST(TextFile, FilesOnDiskReadTheSameAsMemoryAndSeekBack)
{
    CTempFolder folder;
    std::string big;
    for (int i = 0; i < 20000; ++i)
        big += "line " + std::to_string(i) + "\r\n";
    WriteFile(folder.Path("big.txt"), big);
    CTextFile file;
    ASSERT_TRUE(file.Open(folder.Path("big.txt")));
    std::wstring line;
    for (int i = 0; i < 15000; ++i)
        ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, L"line 14999");
    file.Seek(0, CTextFile::SeekFrom::Begin);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, L"line 0");
    EXPECT_FALSE(file.Open(folder.Path("missing.txt")));
    EXPECT_FALSE(file.Open(folder.Path(""))); // a folder
    CWebTextFile web;
    EXPECT_FALSE(web.Open("http://127.0.0.1/a.smi.style"));
}

TEST(TextFile, EachEncodingWritesItsMarkAndCrLf)
{
    const std::wstring text = L"A\u00B1\n\uD55C";
    struct Case {
        TextEncoding encoding;
        std::string bytes;
    };
    const Case cases[] = {
        // 8-bit: characters below 256 as bytes; above, this system's code page (UTF-8).
        { TextEncoding::Ascii, "A\xB1\r\n\xED\x95\x9C" },
        { TextEncoding::Utf8,
            "\xEF\xBB\xBF"
            "A\xC2\xB1\r\n\xED\x95\x9C" },
        { TextEncoding::Utf16Le,
            std::string("\xFF\xFE"
                        "A\0\xB1\0\r\0\n\0\x5C\xD5",
                12) },
        { TextEncoding::Utf16Be, std::string("\xFE\xFF\0A\0\xB1\0\r\0\n\xD5\x5C", 12) },
        { TextEncoding::Ansi, "A\xC2\xB1\r\n\xED\x95\x9C" },
    };
    for (const Case& c : cases) {
        CTextFile out;
        out.SaveToMemory(c.encoding);
        out.WriteString(text);
        EXPECT_TRUE(out.Close());
        EXPECT_EQ(out.MemoryOutput(), c.bytes) << int(c.encoding);
    }
    CTempFolder folder;
    CTextFile file;
    EXPECT_FALSE(file.Save(folder.Path("no/such/folder/x.ass"), TextEncoding::Ascii));
}
