#pragma once

// The subtitle overlay: "/subtitle" renders the current subtitle line of a session
// or a conversion job into a small bitmap that the client lays over the picture.
//
// The answer is a row of 32-bit words in network byte order, in one of three forms:
// empty (0, 0), waiting (the start of the entry at the cursor, 0), or the bitmap
// (start of the next entry, 1, x, y, width, height, then width x height pixels of
// alpha, red, green, blue). The cursor (nSubtitleIndex) walks the entries as the
// play time moves.
//
// Threads: several HTTP workers may ask at once. The one CSubtitleOverlayer keeps
// the font and the bitmap of the last rendering under m_lock; the font file is
// read before the lock is taken.

#include "streaming/client_info.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The first word of the bitmap form when the entry shown is the last one: no later
// entry will come.
inline constexpr uint32_t kNoNextSubtitle = 0xFFFFFFFF;

enum class OverlayForm { Empty, Waiting, Bitmap };

struct OverlayStep {
    OverlayForm form = OverlayForm::Empty;
    uint32_t startWord = 0; // waiting: the start at the cursor; bitmap: the next start
    size_t entry = 0; // bitmap: the entry to draw
};

// Moves cursor for the play time timeMs and tells which form to answer. On the
// bitmap form the cursor has already moved past the entry drawn.
OverlayStep StepSubtitleCursor(
    const std::vector<SubtitleEntry>& entries, int& cursor, int64_t timeMs);

// Splits text at "\N" and breaks every line wider than maxWidth at the last blank
// that fits, as often as needed; a line without a fitting blank stays whole.
std::vector<std::string> BreakSubtitleLines(
    const std::string& text, int maxWidth, const std::function<int(const std::string&)>& measure);

// The bitmap's place on the client's screen.
int OverlayX(int screenWidth, int bitmapWidth);
int OverlayY(int screenHeight, int bitmapHeight);

struct OverlayBitmap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> argb; // width x height x 4, rows from the top
};

// The three answers as bytes.
std::string EmptyOverlayAnswer();
std::string WaitingOverlayAnswer(uint32_t startMs);
std::string BitmapOverlayAnswer(
    uint32_t nextStartMs, int screenWidth, int screenHeight, const OverlayBitmap& bitmap);

class FontFiles;
class SettingsStore;

class CSubtitleOverlayer {
public:
    // The settings give the overlay font; fonts find its file.
    CSubtitleOverlayer(SettingsStore& settings, FontFiles& fonts);
    virtual ~CSubtitleOverlayer();
    CSubtitleOverlayer(const CSubtitleOverlayer&) = delete;
    CSubtitleOverlayer& operator=(const CSubtitleOverlayer&) = delete;

    // Loads the font file at pixel size; false (and the old font kept) on failure.
    bool SetFont(const std::string& fontFile, int pixelSize);
    // The font of the "Subtitle" settings "Font" (default "arial") and "Size"
    // (default 18), with a Korean font where the face cannot draw Hangul. Once.
    bool EnsureSettingsFont();

    // Draws the lines, broken for the screen width, outlined in black, in white.
    // False when no font is loaded or nothing is to be drawn.
    bool Render(const std::string& text, int screenWidth, OverlayBitmap& bitmap);

    // The width of one line in pixels with the current font.
    int MeasureLine(const std::string& line);

    // The answer of "/subtitle" for a record at a play time and screen.
    std::string Answer(CommonInfo_t& record, int64_t timeMs, int screenWidth, int screenHeight);

private:
    struct Font;
    int MeasureLocked(const std::string& line);
    bool RenderLocked(const std::string& text, int screenWidth, OverlayBitmap& bitmap);

    SettingsStore& m_settings;
    FontFiles& m_fonts;
    std::mutex m_lock;
    std::unique_ptr<Font> m_font; // guarded by m_lock
    OverlayBitmap m_bitmap; // guarded by m_lock: the last rendering, reused at the same size
    bool m_settingsFontTried = false; // guarded by m_lock
};
