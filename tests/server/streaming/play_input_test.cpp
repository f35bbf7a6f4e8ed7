#include "streaming/play_input.h"

#include <gtest/gtest.h>

TEST(PlayInput, ScreenSides)
{
    EXPECT_EQ(ParseScreenSide("480"), 480);
    EXPECT_EQ(ParseScreenSide("16"), 16);
    EXPECT_EQ(ParseScreenSide("8192"), 8192);
    for (const char* bad :
        { "", "0", "15", "8193", "100000", "-480", "48O", " 480", "4.8e2", "9999999999" })
        EXPECT_FALSE(ParseScreenSide(bad)) << bad;
}

TEST(PlayInput, EveryValueMustBePresentAndUsable)
{
    PlayInput good { "ID", "/Movies/a.avi", "480", "320", "iOS", "WIFI", "00:01:00", "", {}, {},
        true };
    EXPECT_TRUE(IsUsablePlayInput(good));
    for (std::string PlayInput::*field : { &PlayInput::id, &PlayInput::path, &PlayInput::width,
             &PlayInput::height, &PlayInput::ostype, &PlayInput::conntype, &PlayInput::playtime }) {
        PlayInput missing = good;
        missing.*field = "";
        EXPECT_FALSE(IsUsablePlayInput(missing));
    }
    PlayInput flat = good;
    flat.height = "1";
    EXPECT_FALSE(IsUsablePlayInput(flat));
    PlayInput endless = good;
    endless.playtime = "99999:99:";
    EXPECT_FALSE(IsUsablePlayInput(endless));
}
