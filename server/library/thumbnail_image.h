#pragma once

// The picture half of thumbnail making: the engine hands back one frame as a
// 48-byte bitmap header followed by rows of B,G,R bytes (each row padded to a
// multiple of 4 bytes); this unit checks that message, stretches the frame over
// the wanted size (the aspect ratio is not kept) and stores it as a JPEG file.
// No state, no threads: every call stands alone.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

inline constexpr size_t kEngineImageHeaderSize = 48;
// Frames this wide or wider are refused: the engine scales to fit 640x480, so a
// wider one means a broken engine reply.
inline constexpr int kMaxEngineImageWidth = 1024;
// Bound on the wanted size of a thumbnail, so a hostile query cannot ask for a
// picture of gigabytes.
inline constexpr int kMaxThumbnailSide = 4096;

// A view of one engine frame, rows from the top down.
struct EngineBitmap {
    int width = 0;
    int rows = 0;
    ptrdiff_t stride = 0; // bytes from one row to the next (negative for bottom-up data)
    const uint8_t* firstRow = nullptr; // the top row
};

enum class EngineImageCheck {
    Ok,
    Malformed, // header and pixel bytes disagree, or the format is not 24-bit uncompressed
    TooWide, // width of kMaxEngineImageWidth or more
};

// Reads the header (size 40, width, height negative for top-down rows, planes 1,
// 24 bits, compression 0, image size) and checks it against the pixel bytes.
// A positive height is accepted as bottom-up rows.
EngineImageCheck ReadEngineBitmap(
    std::span<const uint8_t> header, std::span<const uint8_t> pixels, EngineBitmap& out);

// Builds a header for a frame of the given size, as the engine writes it. For
// tests and tools; returns the image size (padded rows times row count).
size_t MakeEngineBitmapHeader(int width, int rows, uint8_t (&header)[kEngineImageHeaderSize]);

// Stretches the frame over width x height and writes it as a JPEG file. The file
// appears under its name only when complete (written beside it, then renamed), so
// a reader never sees half a thumbnail. False on any failure, with nothing left
// behind.
bool SaveStretchedJpeg(const EngineBitmap& picture, int width, int height, const std::string& path);

// Same, but returns the JPEG bytes instead of writing them. Empty on failure.
std::string EncodeStretchedJpeg(const EngineBitmap& picture, int width, int height);
