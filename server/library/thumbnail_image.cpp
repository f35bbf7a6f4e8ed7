#include "library/thumbnail_image.h"

#include "platform/file_io.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
#include <turbojpeg.h>
}

namespace {

// The engine scales to fit 640x480; anything beyond this many rows is a broken reply.
constexpr int kMaxEngineImageRows = 8192;
// swscale may read and write a little past the end of a row with its vector code.
constexpr size_t kRowSlack = 64;
constexpr int kJpegQuality = 75;

uint32_t ReadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t ReadLe16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

void WriteLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

size_t PaddedRowBytes(int width)
{
    return (size_t(width) * 3 + 3) & ~size_t(3);
}

size_t AlignedRowBytes(int width)
{
    return (size_t(width) * 3 + 31) & ~size_t(31);
}

struct SwsDeleter {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};
struct TjDeleter {
    void operator()(void* h) const { tjDestroy(h); }
};
struct TjBufferDeleter {
    void operator()(unsigned char* b) const { tjFree(b); }
};

// Copies the frame into rows with room to spare, top row first.
std::vector<uint8_t> CopyPadded(const EngineBitmap& picture, size_t& stride)
{
    stride = AlignedRowBytes(picture.width);
    std::vector<uint8_t> copy(stride * size_t(picture.rows) + kRowSlack, 0);
    const size_t rowBytes = size_t(picture.width) * 3;
    for (int y = 0; y < picture.rows; ++y)
        std::memcpy(&copy[stride * size_t(y)], picture.firstRow + picture.stride * y, rowBytes);
    return copy;
}

bool Stretch(const EngineBitmap& picture, int width, int height, std::vector<uint8_t>& out,
    size_t& outStride)
{
    size_t inStride = 0;
    std::vector<uint8_t> in = CopyPadded(picture, inStride);
    std::unique_ptr<SwsContext, SwsDeleter> sws(
        sws_getContext(picture.width, picture.rows, AV_PIX_FMT_BGR24, width, height,
            AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!sws)
        return false;
    outStride = AlignedRowBytes(width);
    out.assign(outStride * size_t(height) + kRowSlack, 0); // black where nothing is drawn
    const uint8_t* src[4] = { in.data(), nullptr, nullptr, nullptr };
    const int srcStride[4] = { int(inStride), 0, 0, 0 };
    uint8_t* dst[4] = { out.data(), nullptr, nullptr, nullptr };
    const int dstStride[4] = { int(outStride), 0, 0, 0 };
    return sws_scale(sws.get(), src, srcStride, 0, picture.rows, dst, dstStride) == height;
}

bool SaneTarget(const EngineBitmap& picture, int width, int height)
{
    return picture.firstRow && picture.width > 0 && picture.rows > 0 && width > 0 && height > 0
        && width <= kMaxThumbnailSide && height <= kMaxThumbnailSide;
}

template <typename Sink>
bool CompressStretched(const EngineBitmap& picture, int width, int height, Sink&& sink)
{
    if (!SaneTarget(picture, width, height))
        return false;
    std::vector<uint8_t> scaled;
    size_t stride = 0;
    if (!Stretch(picture, width, height, scaled, stride))
        return false;
    std::unique_ptr<void, TjDeleter> tj(tjInitCompress());
    if (!tj)
        return false;
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int rc = tjCompress2(tj.get(), scaled.data(), width, int(stride), height, TJPF_BGR, &jpeg,
        &jpegSize, TJSAMP_420, kJpegQuality, 0);
    std::unique_ptr<unsigned char, TjBufferDeleter> owned(jpeg);
    if (rc != 0 || !jpeg || jpegSize == 0)
        return false;
    return sink(jpeg, size_t(jpegSize));
}

} // namespace

EngineImageCheck ReadEngineBitmap(
    std::span<const uint8_t> header, std::span<const uint8_t> pixels, EngineBitmap& out)
{
    out = EngineBitmap {};
    if (header.size() < kEngineImageHeaderSize)
        return EngineImageCheck::Malformed;
    const uint8_t* h = header.data();
    const int32_t width = int32_t(ReadLe32(h + 4));
    const int32_t height = int32_t(ReadLe32(h + 8));
    if (ReadLe32(h) != 40 || ReadLe16(h + 12) != 1 || ReadLe16(h + 14) != 24
        || ReadLe32(h + 16) != 0)
        return EngineImageCheck::Malformed;
    if (width <= 0 || height == 0 || height == INT32_MIN)
        return EngineImageCheck::Malformed;
    if (width >= kMaxEngineImageWidth)
        return EngineImageCheck::TooWide;
    const int rows = height < 0 ? -height : height;
    if (rows > kMaxEngineImageRows)
        return EngineImageCheck::Malformed;
    const size_t rowBytes = PaddedRowBytes(width);
    const size_t imageSize = rowBytes * size_t(rows);
    if (ReadLe32(h + 20) != imageSize || pixels.size() < imageSize)
        return EngineImageCheck::Malformed;
    out.width = width;
    out.rows = rows;
    if (height < 0) {
        out.firstRow = pixels.data();
        out.stride = ptrdiff_t(rowBytes);
    } else {
        out.firstRow = pixels.data() + rowBytes * size_t(rows - 1);
        out.stride = -ptrdiff_t(rowBytes);
    }
    return EngineImageCheck::Ok;
}

size_t MakeEngineBitmapHeader(int width, int rows, uint8_t (&header)[kEngineImageHeaderSize])
{
    std::memset(header, 0, sizeof header);
    const size_t imageSize = PaddedRowBytes(width) * size_t(rows);
    WriteLe32(header, 40);
    WriteLe32(header + 4, uint32_t(width));
    WriteLe32(header + 8, uint32_t(-rows));
    header[12] = 1;
    header[14] = 24;
    WriteLe32(header + 20, uint32_t(imageSize));
    return imageSize;
}

bool SaveStretchedJpeg(const EngineBitmap& picture, int width, int height, const std::string& path)
{
    return CompressStretched(picture, width, height, [&](const unsigned char* data, size_t size) {
        return ReplaceFileWhole(path, std::string_view(reinterpret_cast<const char*>(data), size));
    });
}

std::string EncodeStretchedJpeg(const EngineBitmap& picture, int width, int height)
{
    std::string bytes;
    CompressStretched(picture, width, height, [&](const unsigned char* data, size_t size) {
        bytes.assign(reinterpret_cast<const char*>(data), size);
        return true;
    });
    return bytes;
}
