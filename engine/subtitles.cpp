#include "engine/subtitles.h"

#include "engine/engine_log.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iconv.h>
#include <iterator>

namespace {

// A subtitle script of a feature film is well under a megabyte.
constexpr std::streamoff kMaxScriptBytes = 64 << 20;

bool ConvertWithIconv(const std::string& bytes, const std::string& from, std::string& out)
{
    iconv_t converter = iconv_open("UTF-8", from.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    out.clear();
    std::string input = bytes;
    char* in = input.data();
    size_t inLeft = input.size();
    char buffer[4096];
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, sizeof buffer - outLeft);
        if (result == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            if (errno == EILSEQ && inLeft > 0) {
                // A stray byte: keep a replacement mark and go on.
                out += "\xEF\xBF\xBD";
                ++in;
                --inLeft;
                continue;
            }
            ok = errno == EINVAL; // a cut multi-byte tail at the very end
            break;
        }
    }
    iconv_close(converter);
    return ok || !out.empty();
}

void ForwardAssMessage(int level, const char* format, va_list args, void*)
{
    if (level > 2)
        return;
    char text[512];
    vsnprintf(text, sizeof text, format, args);
    EngineLog(LogLevel::Warning, "libass: %s", text);
}

} // namespace

bool IsValidUtf8(const std::string& text)
{
    size_t i = 0;
    size_t n = text.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        if (c < 0x80)
            extra = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            extra = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            extra = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            extra = 3;
        else
            return false;
        if (n - i <= extra)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += extra + 1;
    }
    return true;
}

std::string ScriptToUtf8(const std::string& bytes, const std::string& codepage, std::string& note)
{
    if (bytes.size() >= 2
        && ((bytes[0] == '\xFF' && bytes[1] == '\xFE')
            || (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
        std::string out;
        if (ConvertWithIconv(bytes, "UTF-16", out)) {
            note = "UTF-16 script converted";
            return out;
        }
    }
    std::string body = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    if (IsValidUtf8(body)) {
        note.clear();
        return body;
    }
    std::string out;
    if (!codepage.empty() && ConvertWithIconv(body, codepage, out)) {
        note = "script converted from " + codepage;
        return out;
    }
    ConvertWithIconv(body, "ISO-8859-1", out);
    note = "code page '" + codepage + "' unknown; script read as Latin-1";
    return out;
}

SubtitleRenderer::~SubtitleRenderer()
{
    if (m_track)
        ass_free_track(m_track);
    if (m_renderer)
        ass_renderer_done(m_renderer);
    if (m_library)
        ass_library_done(m_library);
}

bool SubtitleRenderer::Open(
    const std::string& scriptPath, const std::string& fontFile, const std::string& codepage)
{
    std::ifstream file(scriptPath, std::ios::binary);
    if (!file) {
        EngineLog(LogLevel::Warning, "subtitle script '%s' cannot be read; no subtitles",
            scriptPath.c_str());
        return false;
    }
    file.seekg(0, std::ios::end);
    std::streamoff size = file.tellg();
    if (size < 0 || size > kMaxScriptBytes) {
        EngineLog(LogLevel::Warning, "subtitle script '%s' is too large; no subtitles",
            scriptPath.c_str());
        return false;
    }
    file.seekg(0);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string note;
    std::string text = ScriptToUtf8(bytes, codepage, note);
    if (!note.empty())
        EngineLog(LogLevel::Info, "%s", note.c_str());

    m_library = ass_library_init();
    if (!m_library)
        return false;
    ass_set_message_cb(m_library, ForwardAssMessage, nullptr);
    ass_set_extract_fonts(m_library, 1);
    m_renderer = ass_renderer_init(m_library);
    if (!m_renderer)
        return false;
    ass_set_fonts(m_renderer, fontFile.empty() ? nullptr : fontFile.c_str(), "sans-serif",
        ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
    m_track = ass_read_memory(m_library, text.data(), text.size(), nullptr);
    if (!m_track) {
        EngineLog(LogLevel::Warning, "subtitle script '%s' is not an ASS script; no subtitles",
            scriptPath.c_str());
        return false;
    }
    return true;
}

void SubtitleRenderer::SetFrameSize(int width, int height)
{
    ass_set_frame_size(m_renderer, width, height);
    ass_set_storage_size(m_renderer, width, height);
}

const ASS_Image* SubtitleRenderer::Render(double seconds, bool& changed)
{
    int change = 0;
    long long ms = static_cast<long long>(std::llround(seconds * 1000));
    const ASS_Image* images = ass_render_frame(m_renderer, m_track, ms, &change);
    changed = change != 0;
    return images;
}
