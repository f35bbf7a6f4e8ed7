#include "sts_model.h"

#include <gtest/gtest.h>

using namespace subvoro;

namespace {

STSStyle StyleOfSize(double size)
{
    STSStyle style;
    style.fontSize = size;
    return style;
}

} // namespace

TEST(SubtitleModel, AddEntryTrimsDropsEmptyAndBackwardsAndCleansStyleNames)
{
    CSimpleTextSubtitle sts;
    sts.AddEntry(L"  a\r\nb \t", false, 0, 10, L"**Title");
    sts.AddEntry(L" \r\n ", false, 0, 10);
    sts.AddEntry(L"backwards", false, 10, 9);
    sts.AddEntry(L"zero", false, 5, 5, L"");
    ASSERT_EQ(sts.entries.size(), 2u);
    EXPECT_EQ(sts.entries[0].text, L"a\nb");
    EXPECT_EQ(sts.entries[0].style, L"Title");
    EXPECT_EQ(sts.entries[1].style, L"Default");
    EXPECT_EQ(sts.entries[1].readOrder, -1);
}

TEST(SubtitleModel, ClashingStyleMovesTheExistingOneToTheNextFreeNumber)
{
    CSimpleTextSubtitle sts;
    sts.InsertStyle(L"Default", StyleOfSize(10));
    sts.AddEntry(L"old", false, 0, 1, L"Default");
    sts.InsertStyle(L"Default", StyleOfSize(10)); // equal: dropped, nothing renamed
    EXPECT_EQ(sts.styles.size(), 1u);

    sts.InsertStyle(L"Default", StyleOfSize(20));
    sts.InsertStyle(L"Default", StyleOfSize(30));
    ASSERT_EQ(sts.styles.size(), 3u);
    EXPECT_EQ(sts.FindStyle(L"Default")->fontSize, 30.0);
    EXPECT_EQ(sts.FindStyle(L"Default3")->fontSize, 20.0);
    EXPECT_EQ(sts.FindStyle(L"Default2")->fontSize, 10.0);
    EXPECT_EQ(sts.entries[0].style, L"Default2"); // follows its style

    sts.InsertStyle(L"Title5", StyleOfSize(1));
    sts.InsertStyle(L"Title6", StyleOfSize(2));
    sts.InsertStyle(L"Title5", StyleOfSize(3)); // Title6 is taken, so the old Title5 goes to Title7
    EXPECT_EQ(sts.FindStyle(L"Title7")->fontSize, 1.0);
    EXPECT_EQ(sts.FindStyle(L"Title5")->fontSize, 3.0);
    EXPECT_EQ(sts.FindStyle(L"Title6")->fontSize, 2.0);

    sts.InsertStyle(L"", StyleOfSize(40));
    EXPECT_EQ(sts.FindStyle(L"Default")->fontSize, 40.0);
    EXPECT_EQ(sts.FindStyle(L"Default4")->fontSize, 30.0);
}

TEST(SubtitleModel, OffsetsDoNotMakeStylesDifferent)
{
    STSStyle a, b;
    b.offsetX = 3;
    b.offsetY = 4;
    EXPECT_TRUE(a.SameAs(b));
    b.angleX = 1;
    EXPECT_FALSE(a.SameAs(b));
}

TEST(SubtitleModel, UnknownStylesBecomeDefaultWithOneWarningPerNameUntilDeclined)
{
    CSimpleTextSubtitle sts;
    for (const wchar_t* style : { L"Ghost", L"Ghost", L"Phantom", L"Spirit" })
        sts.AddEntry(L"x", false, 0, 1, style);
    sts.EnsureDefaultStyle();
    EXPECT_TRUE(sts.defaultStyleGenerated);
    std::vector<std::wstring> warned;
    sts.RemapUnknownStyles([&](const std::wstring& name, bool) {
        warned.push_back(name);
        return name != L"Phantom"; // the user declines further warnings at the second name
    });
    EXPECT_EQ(warned, (std::vector<std::wstring> { L"Ghost", L"Phantom" }));
    for (const STSEntry& e : sts.entries)
        EXPECT_EQ(e.style, L"Default");
}
