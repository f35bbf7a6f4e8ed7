#include "library/thumbnail_image.h"
#include "support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Bgr {
    uint8_t b, g, r;
};

// An engine frame as the engine sends it: header plus padded top-down rows.
struct Frame {
    uint8_t header[kEngineImageHeaderSize];
    std::vector<uint8_t> pixels;
    int width, rows;
    size_t stride;

    Frame(int w, int h)
        : width(w)
        , rows(h)
    {
        const size_t size = MakeEngineBitmapHeader(w, h, header);
        stride = size / size_t(h);
        pixels.assign(size, 0);
    }
    void Set(int x, int y, Bgr c)
    {
        uint8_t* p = &pixels[stride * size_t(y) + size_t(x) * 3];
        p[0] = c.b, p[1] = c.g, p[2] = c.r;
    }
    EngineImageCheck Read(EngineBitmap& out) const { return ReadEngineBitmap(header, pixels, out); }
};

constexpr Bgr kRed { 0, 0, 255 }, kGreen { 0, 255, 0 }, kBlue { 255, 0, 0 },
    kWhite { 255, 255, 255 };

// Top-left red, top-right green, bottom-left blue, bottom-right white.
Frame Quadrants(int w, int h)
{
    Frame f(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f.Set(x, y, y < h / 2 ? (x < w / 2 ? kRed : kGreen) : (x < w / 2 ? kBlue : kWhite));
    return f;
}

struct Decoded {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    Bgr At(int x, int y) const
    {
        const uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
        return { p[2], p[1], p[0] };
    }
};

Decoded Decode(const std::string& jpeg)
{
    Decoded d;
    tjhandle tj = tjInitDecompress();
    int sub = 0, space = 0;
    auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
    if (tjDecompressHeader3(tj, data, jpeg.size(), &d.width, &d.height, &sub, &space) == 0) {
        d.rgb.resize(size_t(d.width) * size_t(d.height) * 3);
        if (tjDecompress2(tj, data, jpeg.size(), d.rgb.data(), d.width, 0, d.height, TJPF_RGB, 0))
            d.rgb.clear();
    }
    tjDestroy(tj);
    return d;
}

void ExpectNear(Bgr got, Bgr want, const char* where)
{
    EXPECT_NEAR(got.r, want.r, 48) << where;
    EXPECT_NEAR(got.g, want.g, 48) << where;
    EXPECT_NEAR(got.b, want.b, 48) << where;
}

void ExpectQuadrants(const Decoded& d)
{
    ASSERT_FALSE(d.rgb.empty());
    const int w = d.width, h = d.height;
    ExpectNear(d.At(w / 8, h / 8), kRed, "top left");
    ExpectNear(d.At(w - 1 - w / 8, h / 8), kGreen, "top right");
    ExpectNear(d.At(w / 8, h - 1 - h / 8), kBlue, "bottom left");
    ExpectNear(d.At(w - 1 - w / 8, h - 1 - h / 8), kWhite, "bottom right");
}

class ThumbnailJpegFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(folder.Path().empty());
        dir = folder.Path();
    }
    vembatest::TempFolder folder { "vemba-thumbimg" };
    fs::path dir;
};

} // namespace

TEST(EngineBitmap, StretchesOverTheWholeWantedSizeKeepingColoursAndOrientation)
{
    // 201 columns: rows of 603 bytes padded to 604, so the padding must be honoured.
    const Frame f = Quadrants(201, 100);
    EngineBitmap picture;
    ASSERT_EQ(f.Read(picture), EngineImageCheck::Ok);
    const Decoded small = Decode(EncodeStretchedJpeg(picture, 64, 50));
    EXPECT_EQ(small.width, 64);
    EXPECT_EQ(small.height, 50);
    ExpectQuadrants(small);
    // Aspect ratio is not kept: a tall target is filled entirely too.
    const Decoded tall = Decode(EncodeStretchedJpeg(picture, 50, 300));
    EXPECT_EQ(tall.width, 50);
    EXPECT_EQ(tall.height, 300);
    ExpectQuadrants(tall);
}

TEST(EngineBitmap, BottomUpRowsAreTurnedTheRightWayUp)
{
    Frame f = Quadrants(40, 40);
    // Same picture stored bottom-up with a positive height.
    std::vector<uint8_t> flipped(f.pixels.size());
    for (int y = 0; y < f.rows; ++y)
        std::copy_n(
            &f.pixels[f.stride * size_t(y)], f.stride, &flipped[f.stride * size_t(f.rows - 1 - y)]);
    f.pixels = flipped;
    f.header[8] = 40, f.header[9] = f.header[10] = f.header[11] = 0;
    EngineBitmap picture;
    ASSERT_EQ(f.Read(picture), EngineImageCheck::Ok);
    ExpectQuadrants(Decode(EncodeStretchedJpeg(picture, 64, 50)));
}

TEST(EngineBitmap, WidthLimitAndMalformedHeadersAreRefused)
{
    EngineBitmap picture;
    EXPECT_EQ(Frame(1023, 2).Read(picture), EngineImageCheck::Ok);
    EXPECT_EQ(Frame(1024, 2).Read(picture), EngineImageCheck::TooWide);

    Frame f(10, 10);
    EXPECT_EQ(
        ReadEngineBitmap(std::span(f.header, 47), f.pixels, picture), EngineImageCheck::Malformed);
    std::vector<uint8_t> shortPixels(f.pixels.begin(), f.pixels.end() - 1);
    EXPECT_EQ(ReadEngineBitmap(f.header, shortPixels, picture), EngineImageCheck::Malformed);

    auto mutated = [&](size_t offset, uint8_t value) {
        Frame g(10, 10);
        g.header[offset] = value;
        EngineBitmap out;
        return g.Read(out);
    };
    EXPECT_EQ(mutated(0, 41), EngineImageCheck::Malformed); // header size
    EXPECT_EQ(mutated(14, 32), EngineImageCheck::Malformed); // bit count
    EXPECT_EQ(mutated(16, 1), EngineImageCheck::Malformed); // compressed
    EXPECT_EQ(mutated(20, 1), EngineImageCheck::Malformed); // image size word
    EXPECT_EQ(mutated(4, 0), EngineImageCheck::Malformed); // width 0
    // A height of a million rows with a matching size word is still refused.
    Frame tall(1, 1);
    tall.header[8] = 0xC0, tall.header[9] = 0xBD, tall.header[10] = 0xF0, tall.header[11] = 0xFF;
    EXPECT_EQ(tall.Read(picture), EngineImageCheck::Malformed);
}

TEST(EngineBitmap, TinySourceAndHostileTargetSizes)
{
    Frame one(1, 1);
    one.Set(0, 0, kGreen);
    EngineBitmap picture;
    ASSERT_EQ(one.Read(picture), EngineImageCheck::Ok);
    const Decoded d = Decode(EncodeStretchedJpeg(picture, 16, 16));
    ASSERT_EQ(d.width, 16);
    ExpectNear(d.At(8, 8), kGreen, "centre");
    EXPECT_TRUE(EncodeStretchedJpeg(picture, 0, 50).empty());
    EXPECT_TRUE(EncodeStretchedJpeg(picture, 64, -1).empty());
    EXPECT_TRUE(EncodeStretchedJpeg(picture, kMaxThumbnailSide + 1, 50).empty());
}

TEST_F(ThumbnailJpegFile, SavedFileIsCompleteAndNothingElseIsLeft)
{
    const Frame f = Quadrants(64, 48);
    EngineBitmap picture;
    ASSERT_EQ(f.Read(picture), EngineImageCheck::Ok);
    const fs::path target = dir / "clip.avi_s.jpg";
    ASSERT_TRUE(SaveStretchedJpeg(picture, 64, 50, target));
    std::ifstream in(target, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ExpectQuadrants(Decode(bytes));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);

    // A folder that does not exist: failure, and no stray file anywhere.
    EXPECT_FALSE(SaveStretchedJpeg(picture, 64, 50, dir / "missing" / "x_s.jpg"));
    EXPECT_FALSE(SaveStretchedJpeg(picture, 0, 50, dir / "zero_s.jpg"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);
}
