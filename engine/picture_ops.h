#pragma once

// Pixel work the libraries do not offer in the form we need: turning a 4:2:0
// picture by 90 degrees, and laying libass's coverage bitmaps onto one.

#include <cstdint>

extern "C" {
#include <ass/ass.h>
#include <libavutil/frame.h>
}

// Turns one plane of w x h bytes. The target is h wide and w high.
// mode 0: transpose, 1: 90 deg clockwise, 2: 90 deg counter-clockwise,
// 3: anti-transpose (the player's rotate=0..3).
void RotatePlane(const uint8_t* src, int srcStride, int width, int height, uint8_t* dst,
    int dstStride, int mode);

// Turns a YUV 4:2:0 frame into dst, which must be allocated with the sides swapped
// (mode 0..3), or of the same size for mode 4: half a turn.
constexpr int kHalfTurn = 4;
void RotateFrame(const AVFrame& src, AVFrame& dst, int mode);

// Half a turn of one plane of w x h bytes into a plane of the same size.
void HalfTurnPlane(
    const uint8_t* src, int srcStride, int width, int height, uint8_t* dst, int dstStride);

// Halves one plane in both directions, each target byte the rounded mean of a
// 2x2 block: the cheap first step of a large shrink, before the fine scaler.
// The target is srcWidth/2 x srcHeight/2 (an odd last row or column is dropped).
void HalvePlane(
    const uint8_t* src, int srcStride, int srcWidth, int srcHeight, uint8_t* dst, int dstStride);

// Blends every image of the list onto a writable YUV 4:2:0 frame (BT.601,
// limited range), clipping what lies outside it.
void BlendSubtitleImages(AVFrame& frame, const ASS_Image* images);
