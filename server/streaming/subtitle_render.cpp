// CSubtitleOverlayer: the overlay font (FreeType) and the drawing of subtitle lines
// into an alpha/red/green/blue bitmap.

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/trace.h"
#include "library/text_codec.h"
#include "streaming/font_file.h"
#include "streaming/subtitle_overlay.h"

#include <algorithm>
#include <ft2build.h>
#include FT_FREETYPE_H

namespace {

// A bitmap larger than this in either direction is not drawn: a hostile screen size
// or text must not make the server allocate without bound.
constexpr int kMaxOverlaySide = 4096;
// Outline: the text in black at these offsets, then in white at (1, 1).
constexpr int kOutlineOffsets[8][2]
    = { { 0, 0 }, { 1, 0 }, { 2, 0 }, { 0, 1 }, { 0, 2 }, { 2, 1 }, { 2, 2 }, { 1, 2 } };
constexpr int kOutlineMargin = 2;
constexpr uint8_t kCovered = 128; // glyph coverage from which a pixel counts as drawn

std::u32string CodePoints(const std::string& text)
{
    std::u32string points;
    if (textcodec::DecodeUtf8(text, points))
        return points;
    std::wstring wide = textcodec::Utf8ToWide(text); // invalid bytes become U+FFFD
    return std::u32string(wide.begin(), wide.end());
}

// One coverage plane per colour: where black and where white is drawn.
struct Planes {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> black;
    std::vector<uint8_t> white;
};

void Stamp(
    std::vector<uint8_t>& plane, const Planes& size, const FT_Bitmap& glyph, int left, int top)
{
    for (unsigned row = 0; row < glyph.rows; ++row) {
        const int y = top + static_cast<int>(row);
        if (y < 0 || y >= size.height)
            continue;
        const uint8_t* source = glyph.buffer + static_cast<ptrdiff_t>(row) * glyph.pitch;
        for (unsigned column = 0; column < glyph.width; ++column) {
            const int x = left + static_cast<int>(column);
            if (x < 0 || x >= size.width)
                continue;
            uint8_t& cell = plane[static_cast<size_t>(y) * size.width + x];
            cell = std::max(cell, source[column]);
        }
    }
}

} // namespace

struct CSubtitleOverlayer::Font {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    ~Font()
    {
        if (face)
            FT_Done_Face(face);
        if (library)
            FT_Done_FreeType(library);
    }
};

CSubtitleOverlayer::CSubtitleOverlayer(SettingsStore& settings, FontFiles& fonts)
    : m_settings(settings)
    , m_fonts(fonts)
{
}

CSubtitleOverlayer::~CSubtitleOverlayer() = default;

bool CSubtitleOverlayer::SetFont(const std::string& fontFile, int pixelSize)
{
    auto font = std::make_unique<Font>();
    if (FT_Init_FreeType(&font->library) != 0)
        return false;
    // The file is read here, before the lock: other requests keep drawing meanwhile.
    if (FT_New_Face(font->library, fontFile.c_str(), 0, &font->face) != 0)
        return false;
    if (FT_Set_Pixel_Sizes(font->face, 0, static_cast<FT_UInt>(std::clamp(pixelSize, 4, 200))) != 0)
        return false;
    std::lock_guard lock(m_lock);
    m_font = std::move(font);
    return true;
}

bool CSubtitleOverlayer::EnsureSettingsFont()
{
    {
        std::lock_guard lock(m_lock);
        if (m_font || m_settingsFontTried)
            return m_font != nullptr;
        m_settingsFontTried = true;
    }
    const std::string face
        = m_settings.ReadText(kKeySubtitleFont, kDefaultSubtitleFont, kSubtitleSection);
    const std::string sizeText
        = m_settings.ReadText(kKeySubtitleSize, kDefaultStyleSubtitleSize, kSubtitleSection);
    int size = std::atoi(sizeText.c_str());
    if (size <= 0)
        size = 18;
    // The face when it draws Hangul, else the best Korean font: subtitles here are
    // Korean above all.
    std::string file;
    if (!m_fonts.GetFontFile(face.empty() ? std::string(kDefaultSubtitleFont) : face, file)) {
        TraceMessage(kTraceOverlay, " - no overlay font for '%s'", face.c_str());
        return false;
    }
    return SetFont(file, size);
}

int CSubtitleOverlayer::MeasureLine(const std::string& line)
{
    std::lock_guard lock(m_lock);
    return MeasureLocked(line);
}

int CSubtitleOverlayer::MeasureLocked(const std::string& line)
{
    if (!m_font)
        return 0;
    long width = 0;
    for (char32_t point : CodePoints(line)) {
        if (FT_Load_Char(m_font->face, point, FT_LOAD_DEFAULT) == 0)
            width += m_font->face->glyph->advance.x >> 6;
        if (width > kMaxOverlaySide * 4)
            break;
    }
    return static_cast<int>(width);
}

bool CSubtitleOverlayer::Render(const std::string& text, int screenWidth, OverlayBitmap& bitmap)
{
    std::lock_guard lock(m_lock);
    return RenderLocked(text, screenWidth, bitmap);
}

bool CSubtitleOverlayer::RenderLocked(
    const std::string& text, int screenWidth, OverlayBitmap& bitmap)
{
    if (!m_font)
        return false;
    FT_Face face = m_font->face;
    const std::vector<std::string> lines = BreakSubtitleLines(
        text, screenWidth, [this](const std::string& line) { return MeasureLocked(line); });
    const int lineHeight = static_cast<int>(face->size->metrics.height >> 6) + kOutlineMargin;
    const int ascender = static_cast<int>(face->size->metrics.ascender >> 6);
    int widest = 0;
    for (const std::string& line : lines)
        widest = std::max(widest, MeasureLocked(line));
    Planes planes;
    planes.width = std::min(widest + kOutlineMargin, kMaxOverlaySide);
    planes.height = std::min(static_cast<int>(lines.size()) * lineHeight, kMaxOverlaySide);
    if (widest <= 0 || planes.height <= 0)
        return false;
    const size_t area = static_cast<size_t>(planes.width) * planes.height;
    planes.black.assign(area, 0);
    planes.white.assign(area, 0);
    for (size_t index = 0; index < lines.size(); ++index) {
        TraceMessage(kTraceOverlay, " - TextOut ('%s')", lines[index].c_str());
        const int baseline = static_cast<int>(index) * lineHeight + ascender;
        int pen = 0;
        for (char32_t point : CodePoints(lines[index])) {
            if (FT_Load_Char(face, point, FT_LOAD_RENDER) != 0)
                continue;
            const FT_GlyphSlot glyph = face->glyph;
            const int left = pen + glyph->bitmap_left;
            const int top = baseline - glyph->bitmap_top;
            for (const auto& offset : kOutlineOffsets)
                Stamp(planes.black, planes, glyph->bitmap, left + offset[0], top + offset[1]);
            Stamp(planes.white, planes, glyph->bitmap, left + 1, top + 1);
            pen += static_cast<int>(glyph->advance.x >> 6);
            if (pen > planes.width)
                break;
        }
    }
    // Drawn pixels are opaque white or black; everything else stays transparent.
    if (bitmap.width != planes.width || bitmap.height != planes.height)
        bitmap.argb.assign(area * 4, 0);
    bitmap.width = planes.width;
    bitmap.height = planes.height;
    for (size_t cell = 0; cell < area; ++cell) {
        uint8_t* pixel = &bitmap.argb[cell * 4];
        const uint8_t colour = planes.white[cell] >= kCovered ? 255 : 0;
        const bool drawn = colour != 0 || planes.black[cell] >= kCovered;
        pixel[0] = drawn ? 255 : 0;
        pixel[1] = pixel[2] = pixel[3] = colour;
    }
    return true;
}

std::string CSubtitleOverlayer::Answer(
    CommonInfo_t& record, int64_t timeMs, int screenWidth, int screenHeight)
{
    const std::vector<SubtitleEntry> entries = record.SubtitleEntries();
    int cursor = record.nSubtitleIndex;
    const OverlayStep step = StepSubtitleCursor(entries, cursor, timeMs);
    record.nSubtitleIndex = cursor;
    if (step.form == OverlayForm::Empty)
        return EmptyOverlayAnswer();
    if (step.form == OverlayForm::Waiting)
        return WaitingOverlayAnswer(step.startWord);
    EnsureSettingsFont();
    std::lock_guard lock(m_lock);
    if (!RenderLocked(entries[step.entry].text, screenWidth, m_bitmap))
        return EmptyOverlayAnswer();
    return BitmapOverlayAnswer(step.startWord, screenWidth, screenHeight, m_bitmap);
}
