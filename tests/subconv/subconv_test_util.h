// Helpers for the subtitle converter tests: temporary folders, files, CP949 bytes and models
// read from memory.
#pragma once

#include "readers.h"
#include "support/test_support.h"
#include "text_file.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sstream>
#include <string>

namespace subvoro::test {

// A fresh folder under the temporary folder, removed with its contents at the end of the test.
class CTempFolder {
public:
    std::string Path(const std::string& name) const
    {
        return (std::filesystem::path(m_folder.Path()) / name).string();
    }

private:
    vembatest::TempFolder m_folder { "subconv-test" };
};

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// Converts UTF-8 text to another code page with iconv; empty when it cannot.
inline std::string Recode(const std::string& utf8, const char* to)
{
    iconv_t cd = iconv_open(to, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string();
    std::string out(utf8.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(utf8.data());
    size_t srcLeft = utf8.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == size_t(-1))
        return std::string();
    out.resize(out.size() - dstLeft);
    return out;
}

// Reads a subtitle held in memory through the reader driver.
inline CSimpleTextSubtitle ReadBytes(
    const std::string& bytes, const std::wstring& language = L"", const OpenNotices& notices = {})
{
    CTextFile file;
    file.OpenMemory(bytes);
    CSimpleTextSubtitle sts;
    sts.samiLanguage = language;
    EXPECT_TRUE(ReadSubtitleFile(file, sts, notices));
    return sts;
}

// A SAMI file whose style block declares KRCC (ko-KR) and ENCC (en-US).
inline std::string TwoLanguageSami(const std::string& body)
{
    return "<SAMI>\n<HEAD>\n<TITLE>Two languages</TITLE>\n<STYLE TYPE=\"text/css\">\n<!--\n"
           "P { margin-left:8pt; margin-right:8pt; text-align:center; font-size:20pt; }\n"
           ".KRCC {Name:Korean; lang:ko-KR; SAMIType:CC;}\n"
           ".ENCC {Name:English; lang:en-US; SAMIType:CC;}\n"
           "-->\n</STYLE>\n</HEAD>\n<BODY>\n"
        + body + "</BODY>\n</SAMI>\n";
}

} // namespace subvoro::test
