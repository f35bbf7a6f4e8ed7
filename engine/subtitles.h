#pragma once

// Burnt-in subtitles: an ASS script drawn by libass at each frame's media time,
// so a run that starts at a seek shows the lines of that moment. Scripts whose
// bytes are not UTF-8 are converted from the code page given on the command line.

#include <string>

extern "C" {
#include <ass/ass.h>
}

// The script as UTF-8: valid UTF-8 is kept (its BOM dropped), a UTF-16 BOM
// selects UTF-16, anything else is converted from codepage (Latin-1 when the
// code page is empty or unknown). note receives what was done, for the log.
std::string ScriptToUtf8(const std::string& bytes, const std::string& codepage, std::string& note);

bool IsValidUtf8(const std::string& text);

// What the picture stage draws over each picture: images for a media time, in the
// frame's own pixels. An ASS script (below) and a subtitle stream of the input
// (stream_subtitles.h) both give them.
class PictureSubtitles {
public:
    virtual ~PictureSubtitles() = default;
    virtual void SetFrameSize(int width, int height) = 0;
    // The images for media time `seconds`; changed tells whether they differ from
    // the previous call's.
    virtual const ASS_Image* Render(double seconds, bool& changed) = 0;
};

class SubtitleRenderer : public PictureSubtitles {
public:
    SubtitleRenderer() = default;
    ~SubtitleRenderer() override;
    SubtitleRenderer(const SubtitleRenderer&) = delete;
    SubtitleRenderer& operator=(const SubtitleRenderer&) = delete;

    // Reads the script; fontFile (may be empty) is the default font. False when
    // the script cannot be read; the run then goes on without subtitles.
    bool Open(
        const std::string& scriptPath, const std::string& fontFile, const std::string& codepage);
    void SetFrameSize(int width, int height) override;

    // The images for media time `seconds`; changed tells whether they differ
    // from the previous call's.
    const ASS_Image* Render(double seconds, bool& changed) override;

private:
    ASS_Library* m_library = nullptr;
    ASS_Renderer* m_renderer = nullptr;
    ASS_Track* m_track = nullptr;
};
