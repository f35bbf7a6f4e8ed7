#include "platform/ini_file.h"
#include "server/platform/temp_folder.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

TEST(IniFile, MissingFileAndMissingKeyAreToldApart)
{
    TempFolder folder;
    std::string path = folder / "a.ini";
    EXPECT_FALSE(ini::FileExists(path));
    EXPECT_EQ(ini::ReadValue(path, "S", "k"), std::nullopt);
    WriteFileText(path, "[S]\nother=1\n");
    EXPECT_TRUE(ini::FileExists(path));
    EXPECT_EQ(ini::ReadValue(path, "S", "k"), std::nullopt);
    EXPECT_EQ(ini::ReadValue(path, "S", "other"), "1");
    EXPECT_FALSE(ini::FileExists(folder.path())) << "a folder is no ini file";
}

TEST(IniFile, NamesCompareWithoutCaseAndValuesAreTrimmed)
{
    TempFolder folder;
    std::string path = folder / "a.ini";
    WriteFileText(path,
        "\xEF\xBB\xBF[ Setting ]\r\n  InPort  =  47002  \r\nEmpty=\r\n[Other]\r\nInPort=1\r\n");
    EXPECT_EQ(ini::ReadValue(path, "setting", "INPORT"), "47002");
    EXPECT_EQ(ini::ReadValue(path, "Setting", "Empty"), "");
    EXPECT_EQ(ini::ReadValue(path, "Other", "InPort"), "1");
    EXPECT_EQ(ini::ReadValue(path, "Missing", "InPort"), std::nullopt);
}

TEST(IniFile, WriteValueKeepsEverythingElse)
{
    TempFolder folder;
    std::string path = folder / "a.ini";
    WriteFileText(path, "; note\r\n[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\nz=3\r\n");
    ASSERT_TRUE(ini::WriteValue(path, "a", "X", "10"));
    ASSERT_TRUE(ini::WriteValue(path, "A", "w", "4"));
    ASSERT_TRUE(ini::WriteValue(path, "C", "v", "5"));
    EXPECT_EQ(ReadFileText(path),
        "; note\r\n[A]\r\nX=10\r\ny=2\r\nw=4\r\n\r\n[B]\r\nz=3\r\n[C]\r\nv=5\r\n");
}

TEST(IniFile, WriteCreatesTheFileButNotItsFolder)
{
    TempFolder folder;
    EXPECT_TRUE(ini::WriteValue(folder / "new.ini", "S", "k", "v"));
    EXPECT_EQ(ini::ReadValue(folder / "new.ini", "S", "k"), "v");
    EXPECT_FALSE(ini::WriteValue(folder / "no/such.ini", "S", "k", "v"));
    EXPECT_FALSE(ini::FileExists(folder / "no/such.ini"));
}

TEST(IniFile, LineBreaksInAValueCannotAddKeys)
{
    TempFolder folder;
    std::string path = folder / "a.ini";
    ASSERT_TRUE(ini::WriteValue(path, "S", "name", "pc\nSET=1\r\n[X]"));
    EXPECT_EQ(ini::ReadValue(path, "S", "SET"), std::nullopt);
    EXPECT_EQ(ini::ReadValue(path, "X", "SET"), std::nullopt);
    EXPECT_FALSE(ini::WriteValue(path, "S", "a=b", "1"));
    EXPECT_FALSE(ini::WriteValue(path, "S]", "a", "1"));
}

TEST(IniFile, WriteSectionReplacesTheWholeSection)
{
    TempFolder folder;
    std::string path = folder / "a.ini";
    WriteFileText(path, "[Folder]\npath0=a|/a\npath1=b|/b\npath2=c|/c\n\n[Keep]\nk=1\n");
    ASSERT_TRUE(ini::WriteSection(path, "Folder", { { "path0", "a|/a" }, { "path1", "c|/c" } }));
    EXPECT_EQ(ReadFileText(path), "[Folder]\npath0=a|/a\npath1=c|/c\n\n[Keep]\nk=1\n");
    ASSERT_TRUE(ini::WriteSection(path, "Folder", {}));
    EXPECT_EQ(ini::ReadValue(path, "Folder", "path0"), std::nullopt);
    EXPECT_EQ(ini::ReadValue(path, "Keep", "k"), "1");
}

TEST(IniFile, DamagedFilesReadAsWhatParses)
{
    TempFolder folder;
    std::string path = folder / "a.ini";
    std::string junk = "\0\xff\xfe[S\n=novalue\n[S]\nk=\xff\xfe\0x\nbroken line\nz=9"s;
    WriteFileText(path, junk);
    EXPECT_EQ(ini::ReadValue(path, "S", "k"), "\xff\xfe\0x"s);
    EXPECT_EQ(ini::ReadValue(path, "S", "z"), "9");
    EXPECT_TRUE(ini::WriteValue(path, "S", "k", "ok"));
    EXPECT_EQ(ini::ReadValue(path, "S", "k"), "ok");
}

} // namespace
