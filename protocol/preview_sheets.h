#pragma once

// Seek previews: small pictures of a video, one every kPreviewIntervalSeconds from
// the start, laid into sprite sheets row by row (kPreviewColumns pictures a row,
// kPreviewRows rows a sheet). The engine lays the pictures out by these rules and
// the server finds each picture's place in its sheet by the same rules, so the two
// never disagree. Every sheet but the last is whole; the last is cut after its last
// row, and when it holds a single row, after its last picture.

#include <algorithm>

inline constexpr int kPreviewIntervalSeconds = 10;
inline constexpr int kPreviewTileWidth = 160;
inline constexpr int kPreviewColumns = 10;
inline constexpr int kPreviewRows = 10;
// More than a day of pictures; a file that claims longer is cut there.
inline constexpr int kMaxPreviewPictures = 10000;

struct PreviewGrid {
    int tileWidth = kPreviewTileWidth;
    int tileHeight = 90;
    int columns = kPreviewColumns;
    int rows = kPreviewRows;

    int PerSheet() const { return columns * rows; }
    bool Usable() const
    {
        return tileWidth > 0 && tileWidth <= 1024 && tileHeight > 0 && tileHeight <= 1024
            && columns > 0 && columns <= 64 && rows > 0 && rows <= 64;
    }
};

struct PreviewPlace {
    int sheet = 0;
    int x = 0; // pixels from the sheet's left
    int y = 0; // pixels from the sheet's top
};

struct PreviewSheetSize {
    int width = 0;
    int height = 0;
};

// The height of a tile kPreviewTileWidth wide for a picture shown width x height
// (display shape), even (4:2:0 planes), between 2 and four times the width.
inline int PreviewTileHeight(int width, int height)
{
    if (width <= 0 || height <= 0)
        return 90;
    const double exact = double(kPreviewTileWidth) * height / width;
    const int even = int(exact / 2 + 0.5) * 2;
    return std::clamp(even, 2, 4 * kPreviewTileWidth);
}

inline PreviewPlace PlaceOfPreview(const PreviewGrid& grid, int picture)
{
    const int inSheet = picture % grid.PerSheet();
    return { picture / grid.PerSheet(), (inSheet % grid.columns) * grid.tileWidth,
        (inSheet / grid.columns) * grid.tileHeight };
}

inline int PreviewSheetCount(const PreviewGrid& grid, int pictures)
{
    return pictures <= 0 ? 0 : (pictures + grid.PerSheet() - 1) / grid.PerSheet();
}

// The size of sheet `sheet` of a video with `pictures` pictures.
inline PreviewSheetSize SizeOfPreviewSheet(const PreviewGrid& grid, int pictures, int sheet)
{
    const int held = std::clamp(pictures - sheet * grid.PerSheet(), 0, grid.PerSheet());
    const int rows = (held + grid.columns - 1) / grid.columns;
    const int columns = rows > 1 ? grid.columns : held;
    return { columns * grid.tileWidth, rows * grid.tileHeight };
}
