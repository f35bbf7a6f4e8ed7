#include "engine/picture_ops.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Works in tiles so both the reads and the writes stay in cache.
constexpr int kTile = 32;

struct YuvColor {
    int y;
    int u;
    int v;
    int alpha; // 0 transparent .. 255 opaque
};

YuvColor ToYuv(uint32_t rgba)
{
    int r = static_cast<int>(rgba >> 24);
    int g = static_cast<int>((rgba >> 16) & 0xFF);
    int b = static_cast<int>((rgba >> 8) & 0xFF);
    int transparency = static_cast<int>(rgba & 0xFF);
    return {
        ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16,
        ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128,
        ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128,
        255 - transparency,
    };
}

inline uint8_t Mix(uint8_t under, int over, int alpha)
{
    return static_cast<uint8_t>((under * (255 - alpha) + over * alpha + 127) / 255);
}

void BlendOne(AVFrame& frame, const ASS_Image& image)
{
    YuvColor color = ToYuv(image.color);
    if (color.alpha == 0)
        return;
    int x0 = std::max(image.dst_x, 0);
    int y0 = std::max(image.dst_y, 0);
    int x1 = std::min(image.dst_x + image.w, frame.width);
    int y1 = std::min(image.dst_y + image.h, frame.height);
    if (x0 >= x1 || y0 >= y1)
        return;
    auto coverage = [&](int x, int y) -> int {
        if (x < image.dst_x || y < image.dst_y || x >= image.dst_x + image.w
            || y >= image.dst_y + image.h)
            return 0;
        return image.bitmap[(y - image.dst_y) * image.stride + (x - image.dst_x)];
    };
    for (int y = y0; y < y1; ++y) {
        uint8_t* row = frame.data[0] + static_cast<ptrdiff_t>(y) * frame.linesize[0];
        for (int x = x0; x < x1; ++x) {
            int alpha = coverage(x, y) * color.alpha / 255;
            if (alpha)
                row[x] = Mix(row[x], color.y, alpha);
        }
    }
    int cw = (frame.width + 1) / 2;
    int ch = (frame.height + 1) / 2;
    for (int cy = y0 / 2; cy <= (y1 - 1) / 2 && cy < ch; ++cy) {
        uint8_t* rowU = frame.data[1] + static_cast<ptrdiff_t>(cy) * frame.linesize[1];
        uint8_t* rowV = frame.data[2] + static_cast<ptrdiff_t>(cy) * frame.linesize[2];
        for (int cx = x0 / 2; cx <= (x1 - 1) / 2 && cx < cw; ++cx) {
            int sum = coverage(2 * cx, 2 * cy) + coverage(2 * cx + 1, 2 * cy)
                + coverage(2 * cx, 2 * cy + 1) + coverage(2 * cx + 1, 2 * cy + 1);
            int alpha = (sum / 4) * color.alpha / 255;
            if (alpha) {
                rowU[cx] = Mix(rowU[cx], color.u, alpha);
                rowV[cx] = Mix(rowV[cx], color.v, alpha);
            }
        }
    }
}

} // namespace

void HalvePlane(
    const uint8_t* src, int srcStride, int srcWidth, int srcHeight, uint8_t* dst, int dstStride)
{
    int width = srcWidth / 2;
    int height = srcHeight / 2;
    for (int y = 0; y < height; ++y) {
        const uint8_t* top = src + static_cast<ptrdiff_t>(2 * y) * srcStride;
        const uint8_t* bottom = top + srcStride;
        uint8_t* out = dst + static_cast<ptrdiff_t>(y) * dstStride;
        int x = 0;
#if defined(__SSE2__)
        // Exact (a + b + c + d + 2) / 4 in 16-bit lanes, 16 target bytes a round.
        const __m128i zero = _mm_setzero_si128();
        const __m128i ones = _mm_set1_epi16(1);
        const __m128i two = _mm_set1_epi32(2);
        for (; x + 16 <= width; x += 16) {
            __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 2 * x));
            __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 2 * x + 16));
            __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 2 * x));
            __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 2 * x + 16));
            __m128i sums[4] = {
                _mm_add_epi16(_mm_unpacklo_epi8(t0, zero), _mm_unpacklo_epi8(b0, zero)),
                _mm_add_epi16(_mm_unpackhi_epi8(t0, zero), _mm_unpackhi_epi8(b0, zero)),
                _mm_add_epi16(_mm_unpacklo_epi8(t1, zero), _mm_unpacklo_epi8(b1, zero)),
                _mm_add_epi16(_mm_unpackhi_epi8(t1, zero), _mm_unpackhi_epi8(b1, zero)),
            };
            __m128i means[4];
            for (int i = 0; i < 4; ++i)
                means[i] = _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(sums[i], ones), two), 2);
            __m128i low = _mm_packs_epi32(means[0], means[1]);
            __m128i high = _mm_packs_epi32(means[2], means[3]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(low, high));
        }
#endif
        for (; x < width; ++x) {
            int sum = top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1];
            out[x] = static_cast<uint8_t>((sum + 2) >> 2);
        }
    }
}

void RotatePlane(
    const uint8_t* src, int srcStride, int width, int height, uint8_t* dst, int dstStride, int mode)
{
    for (int ty = 0; ty < height; ty += kTile) {
        for (int tx = 0; tx < width; tx += kTile) {
            int yEnd = std::min(ty + kTile, height);
            int xEnd = std::min(tx + kTile, width);
            for (int y = ty; y < yEnd; ++y) {
                const uint8_t* row = src + static_cast<ptrdiff_t>(y) * srcStride;
                for (int x = tx; x < xEnd; ++x) {
                    // The target is `height` wide: target column from y, row from x.
                    int col = (mode == 1 || mode == 3) ? height - 1 - y : y;
                    int line = (mode == 2 || mode == 3) ? width - 1 - x : x;
                    dst[static_cast<ptrdiff_t>(line) * dstStride + col] = row[x];
                }
            }
        }
    }
}

void HalfTurnPlane(
    const uint8_t* src, int srcStride, int width, int height, uint8_t* dst, int dstStride)
{
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = src + static_cast<ptrdiff_t>(y) * srcStride;
        uint8_t* out = dst + static_cast<ptrdiff_t>(height - 1 - y) * dstStride + (width - 1);
        for (int x = 0; x < width; ++x)
            *(out - x) = row[x];
    }
}

void RotateFrame(const AVFrame& src, AVFrame& dst, int mode)
{
    if (mode == kHalfTurn) {
        int cw = (src.width + 1) / 2;
        int ch = (src.height + 1) / 2;
        HalfTurnPlane(
            src.data[0], src.linesize[0], src.width, src.height, dst.data[0], dst.linesize[0]);
        HalfTurnPlane(src.data[1], src.linesize[1], cw, ch, dst.data[1], dst.linesize[1]);
        HalfTurnPlane(src.data[2], src.linesize[2], cw, ch, dst.data[2], dst.linesize[2]);
        return;
    }
    RotatePlane(
        src.data[0], src.linesize[0], src.width, src.height, dst.data[0], dst.linesize[0], mode);
    int cw = (src.width + 1) / 2;
    int ch = (src.height + 1) / 2;
    RotatePlane(src.data[1], src.linesize[1], cw, ch, dst.data[1], dst.linesize[1], mode);
    RotatePlane(src.data[2], src.linesize[2], cw, ch, dst.data[2], dst.linesize[2], mode);
}

void BlendSubtitleImages(AVFrame& frame, const ASS_Image* images)
{
    for (const ASS_Image* image = images; image; image = image->next) {
        if (image->w > 0 && image->h > 0 && image->bitmap)
            BlendOne(frame, *image);
    }
}
