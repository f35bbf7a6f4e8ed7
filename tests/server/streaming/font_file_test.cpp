#include "streaming/font_file.h"

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

namespace {

// Asks fontconfig itself whether the font file draws "한".
bool FileDrawsHangul(const std::string& path)
{
    int count = 0;
    FcBlanks* blanks = nullptr;
    FcPattern* pattern
        = FcFreeTypeQuery(reinterpret_cast<const FcChar8*>(path.c_str()), 0, blanks, &count);
    if (!pattern)
        return false;
    FcCharSet* charset = nullptr;
    bool draws = FcPatternGetCharSet(pattern, FC_CHARSET, 0, &charset) == FcResultMatch
        && FcCharSetHasChar(charset, 0xD55C);
    FcPatternDestroy(pattern);
    return draws;
}

// Each test has the fonts of a server of its own, so no earlier match answers for it.
int GetFontFile(const std::string& faceName, std::string& fontPath)
{
    FontFiles fonts;
    return fonts.GetFontFile(faceName, fontPath);
}

} // namespace

TEST(FontFile, FaceNameTable)
{
    EXPECT_EQ(MapFontFaceName("굴림"), "Gulim");
    EXPECT_EQ(MapFontFaceName("맑은 고딕"), "Malgun");
    EXPECT_EQ(MapFontFaceName("휴먼모음T"), "MoeumT R");
    EXPECT_EQ(MapFontFaceName("NanumGothic"), "NanumGothic");
}

TEST(FontFile, GulimFallsBackToAFontThatDrawsHangul)
{
    std::string path;
    ASSERT_EQ(GetFontFile("굴림", path), 1);
    EXPECT_TRUE(FileDrawsHangul(path)) << path;
}

TEST(FontFile, AnInstalledFaceIsUsed)
{
    std::string path;
    ASSERT_EQ(GetFontFile("NanumGothic", path), 1);
    EXPECT_NE(path.find("NanumGothic"), std::string::npos) << path;
}

TEST(FontFile, ALatinOnlyFaceIsNotAccepted)
{
    std::string path;
    ASSERT_EQ(GetFontFile("DejaVu Sans Mono", path), 1);
    EXPECT_TRUE(FileDrawsHangul(path)) << path;
}

TEST(FontFile, EmptyFaceFindsNothing)
{
    std::string path = "unchanged";
    EXPECT_EQ(GetFontFile("", path), 0);
    EXPECT_EQ(path, "unchanged");
}
