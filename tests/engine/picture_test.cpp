#include "engine/picture_ops.h"
#include "engine/subtitles.h"
#include "engine/thumbnail.h"
#include "engine/video_filter.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

// 3 wide, 2 high:  1 2 3 / 4 5 6
const uint8_t kPlane[6] = { 1, 2, 3, 4, 5, 6 };

std::vector<uint8_t> Rotated(int mode)
{
    std::vector<uint8_t> out(6, 0);
    RotatePlane(kPlane, 3, 3, 2, out.data(), 2, mode);
    return out;
}

} // namespace

TEST(PictureOps, RotationsOfASmallPlane)
{
    // Counter-clockwise: the right column becomes the top row.
    EXPECT_EQ(Rotated(2), (std::vector<uint8_t> { 3, 6, 2, 5, 1, 4 }));
    // Clockwise: the left column, read upwards, becomes the top row.
    EXPECT_EQ(Rotated(1), (std::vector<uint8_t> { 4, 1, 5, 2, 6, 3 }));
    EXPECT_EQ(Rotated(0), (std::vector<uint8_t> { 1, 4, 2, 5, 3, 6 }));
    EXPECT_EQ(Rotated(3), (std::vector<uint8_t> { 6, 3, 5, 2, 4, 1 }));
}

TEST(PictureOps, HalfTurnReversesRowsAndColumns)
{
    std::vector<uint8_t> out(6, 0);
    HalfTurnPlane(kPlane, 3, 3, 2, out.data(), 3);
    EXPECT_EQ(out, (std::vector<uint8_t> { 6, 5, 4, 3, 2, 1 }));
}

TEST(PictureOps, HalvingIsTheRoundedMeanOfEachBlock)
{
    // 70 x 5: the vector path, the tail of the row and a dropped last row and column.
    const int width = 71;
    const int height = 5;
    std::vector<uint8_t> src(width * height);
    uint32_t seed = 12345;
    for (uint8_t& byte : src) {
        seed = seed * 1103515245 + 12345;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    src[0] = 255, src[1] = 255, src[width] = 255, src[width + 1] = 254; // rounds to 255
    std::vector<uint8_t> dst(35 * 2, 0);
    HalvePlane(src.data(), width, width, height, dst.data(), 35);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 35; ++x) {
            const uint8_t* p = &src[2 * y * width + 2 * x];
            int expected = (p[0] + p[1] + p[width] + p[width + 1] + 2) / 4;
            ASSERT_EQ(dst[y * 35 + x], expected) << x << "," << y;
        }
    }
    EXPECT_EQ(dst[0], 255);
}

TEST(PictureOps, SubtitleImageIsBlendedWithItsAlpha)
{
    FramePtr frame = MakeFrame();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = 8;
    frame->height = 8;
    ASSERT_GE(av_frame_get_buffer(frame.get(), 0), 0);
    for (int plane = 0; plane < 3; ++plane)
        memset(frame->data[plane], plane == 0 ? 16 : 128,
            frame->linesize[plane] * (plane == 0 ? 8 : 4));

    uint8_t coverage[4 * 2] = { 255, 255, 255, 255, 128, 128, 0, 0 };
    ASS_Image white {};
    white.w = 4;
    white.h = 2;
    white.stride = 4;
    white.bitmap = coverage;
    white.color = 0xFFFFFF00; // opaque white
    white.dst_x = 6; // reaches past the right edge: clipped
    white.dst_y = 0;
    BlendSubtitleImages(*frame, &white);
    EXPECT_EQ(frame->data[0][6], 235);
    EXPECT_EQ(frame->data[0][7], 235);
    EXPECT_EQ(frame->data[0][5], 16); // left of the image: untouched
    EXPECT_NEAR(frame->data[0][frame->linesize[0] + 6], (16 * 127 + 235 * 128) / 255, 1);
    EXPECT_EQ(frame->data[1][3], 128); // white has no colour
}

TEST(PictureChainSizes, ScaleRotateAndOddSides)
{
    PictureChain chain;
    chain.Configure({ { FilterKind::Scale, 270, 480, 0 }, { FilterKind::Rotate, 0, 0, 2 } }, 720,
        1280, nullptr, 0);
    EXPECT_EQ(chain.OutputWidth(), 480);
    EXPECT_EQ(chain.OutputHeight(), 270);
    chain.Configure({}, 321, 241, nullptr, 0);
    EXPECT_EQ(chain.OutputWidth(), 320);
    EXPECT_EQ(chain.OutputHeight(), 240);
    chain.Configure({}, 1, 1, nullptr, 0);
    EXPECT_EQ(chain.OutputWidth(), 2);
    EXPECT_EQ(chain.OutputHeight(), 2);
    chain.Configure({ { FilterKind::Scale, 480, 0, 0 } }, 1920, 1080, nullptr, 0);
    EXPECT_EQ(chain.OutputHeight(), 270);
}

TEST(PictureChainSizes, UprightTurnComesFirstAndSizesAreUpright)
{
    PictureChain chain;
    // A phone's 1920x1080 picture stored sideways: the scale names the upright size.
    chain.Configure({ { FilterKind::Scale, 608, 1080, 0 } }, 1920, 1080, nullptr, 0, 90);
    EXPECT_EQ(chain.OutputWidth(), 608);
    EXPECT_EQ(chain.OutputHeight(), 1080);
    chain.Configure({ { FilterKind::Scale, 0, 640, 0 } }, 1920, 1080, nullptr, 0, 270);
    EXPECT_EQ(chain.OutputWidth(), 360);
    EXPECT_EQ(chain.OutputHeight(), 640);
    chain.Configure({}, 1280, 720, nullptr, 0, 180);
    EXPECT_EQ(chain.OutputWidth(), 1280);
    EXPECT_EQ(chain.OutputHeight(), 720);

    // The turned picture: stored white above, black below, turned a quarter clockwise.
    FramePtr source = MakePictureFrame(AV_PIX_FMT_YUV420P, 64, 32);
    ASSERT_TRUE(source);
    for (int y = 0; y < 32; ++y)
        memset(source->data[0] + y * source->linesize[0], y < 16 ? 235 : 16, 64);
    for (int plane = 1; plane < 3; ++plane)
        for (int y = 0; y < 16; ++y)
            memset(source->data[plane] + y * source->linesize[plane], 128, 32);
    chain.Configure({ { FilterKind::Scale, 16, 32, 0 } }, 64, 32, nullptr, SWS_POINT, 90);
    VideoWork work { RefFrame(source.get()), 0, 1, 0 };
    FramePtr upright = chain.Process(work);
    ASSERT_TRUE(upright);
    ASSERT_EQ(upright->width, 16);
    ASSERT_EQ(upright->height, 32);
    EXPECT_LT(upright->data[0][16 * upright->linesize[0] + 2], 40) << "left: black";
    EXPECT_GT(upright->data[0][16 * upright->linesize[0] + 13], 200) << "right: white";
}

TEST(ThumbnailLayout, FitAndHeader)
{
    int w = 0;
    int h = 0;
    FitThumbnail(1920, 1080, w, h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 360);
    FitThumbnail(1080, 1920, w, h);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(w, 270);
    FitThumbnail(320, 240, w, h); // never enlarged
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    FitThumbnail(7680, 1, w, h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 1);

    uint8_t header[kBitmapHeaderSize];
    size_t stride = WriteBitmapHeader(5, 3, header);
    EXPECT_EQ(stride, 16u); // 15 bytes padded to 16
    auto word = [&](int offset) {
        return static_cast<int32_t>(header[offset] | header[offset + 1] << 8
            | header[offset + 2] << 16 | static_cast<uint32_t>(header[offset + 3]) << 24);
    };
    EXPECT_EQ(word(0), 40);
    EXPECT_EQ(word(4), 5);
    EXPECT_EQ(word(8), -3);
    EXPECT_EQ(header[12], 1);
    EXPECT_EQ(header[14], 24);
    EXPECT_EQ(word(16), 0);
    EXPECT_EQ(word(20), 48);
    for (size_t i = 24; i < kBitmapHeaderSize; ++i)
        EXPECT_EQ(header[i], 0) << i;
}

TEST(SubtitleText, CodePagesAndUtf8)
{
    std::string note;
    EXPECT_EQ(
        ScriptToUtf8("\xC7\xD1\xB1\xDB", "cp949", note), "\xED\x95\x9C\xEA\xB8\x80"); // "한글"
    EXPECT_FALSE(note.empty());
    EXPECT_EQ(ScriptToUtf8("\xEF\xBB\xBFplain", "cp949", note), "plain");
    EXPECT_TRUE(note.empty());
    EXPECT_EQ(ScriptToUtf8("\xE9t\xE9", "no-such-codepage", note), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(ScriptToUtf8(std::string("\xFF\xFEh\0i\0", 6), "", note), "hi");
    EXPECT_TRUE(IsValidUtf8("\xED\x95\x9C"));
    EXPECT_FALSE(IsValidUtf8("\xED\x95"));
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));
}
