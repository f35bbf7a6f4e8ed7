#include "embedded_font.h"
#include "readers.h"
#include "subtitle_writer.h"
#include "text_util.h"

#include <cstdio>
#include <new>
#include <stdexcept>
#include <subvoro/subvoro.h>

using namespace subvoro;

namespace {

// The server's calls pass no frame rate and write the 8-bit text form.
constexpr double kSaveFrameRate = -1.0;
constexpr TextEncoding kSaveEncoding = TextEncoding::Ascii;

// A name as the user would read it: real Unicode as UTF-8, multi-byte text as its own bytes.
std::string DisplayName(const std::wstring& name, bool unicode)
{
    return unicode ? WideToUtf8(name) : WideToBytes(name);
}

} // namespace

struct CSubvoroter::Impl {
    CWebTextFile file; // the input, kept open for the object's life
    CSimpleTextSubtitle sts;
    SyntaxErrorHandler onSyntaxError;
    UnknownStyleHandler onUnknownStyle;

    OpenNotices Notices()
    {
        OpenNotices notices;
        notices.syntaxError = [this](int line) {
            if (onSyntaxError) {
                char message[64];
                std::snprintf(message, sizeof message, "Syntax error at line %d!\t", line);
                onSyntaxError(line, message);
            }
        };
        notices.unknownStyle = [this](const std::wstring& style, bool unicode) {
            if (!onUnknownStyle)
                return true;
            const std::string name = DisplayName(style, unicode);
            return onUnknownStyle(name,
                "Unknown style found: \"" + name
                    + "\", changed to \"Default\"!\n\nPress Cancel to ignore further warnings.");
        };
        notices.fontSink = RegisterEmbeddedFont;
        return notices;
    }
};

CSubvoroter::CSubvoroter()
    : m_pImpl(std::make_unique<Impl>())
{
}

CSubvoroter::~CSubvoroter() = default;

void CSubvoroter::SetSyntaxErrorHandler(SyntaxErrorHandler handler)
{
    m_pImpl->onSyntaxError = std::move(handler);
}

void CSubvoroter::SetUnknownStyleHandler(UnknownStyleHandler handler)
{
    m_pImpl->onUnknownStyle = std::move(handler);
}

void CSubvoroter::SetSamiLang(const std::string& strCode)
{
    m_pImpl->sts.samiLanguage = Utf8ToWide(strCode);
}

QZSUBERR CSubvoroter::SubFileOpen(const std::string& strPath)
{
    if (!m_pImpl->file.Open(strPath))
        return QZSUB_CANNOT_OPEN;
    try {
        return ReadSubtitleFile(m_pImpl->file, m_pImpl->sts, m_pImpl->Notices())
            ? QZSUB_OK
            : QZSUB_NOT_ACCEPTED;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    // A file too large to hold in memory is not accepted.
    m_pImpl->sts.Empty();
    return QZSUB_NOT_ACCEPTED;
}

bool CSubvoroter::SetDstScreenSize(long nWidth, long nHeight)
{
    if (nWidth < 0 || nHeight < 0)
        return false;
    m_pImpl->sts.screenWidth = SaturateInt(nWidth);
    m_pImpl->sts.screenHeight = SaturateInt(nHeight);
    return true;
}

bool CSubvoroter::SetFontProperty(float fFontScale, int nShadow, int nOutline, int nBottomMargin)
{
    CSimpleTextSubtitle& sts = m_pImpl->sts;
    if (sts.entries.empty())
        return false;
    STSStyle* style = sts.FindStyle(sts.entries.front().style);
    if (!style)
        style = sts.FindStyle(L"Default");
    if (!style)
        return false;
    double size = double(sts.screenHeight / 50) * double(fFontScale);
    if (size == 0.0)
        size = fFontScale;
    style->fontSize = size;
    style->shadowDepthX = nShadow;
    style->outlineWidthX = nOutline;
    style->margins.bottom = nBottomMargin;
    return true;
}

bool CSubvoroter::SubFileSaveAs(const std::string& strPath, exttype type)
{
    try {
        return SaveSubtitleFile(m_pImpl->sts, strPath, type, kSaveFrameRate, kSaveEncoding);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CSubvoroter::SubFileSaveAs(SubtitleList_t* pInfo, exttype type)
{
    try {
        return FillTimedList(m_pImpl->sts, pInfo, type, kSaveFrameRate);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

const char* CSubvoroter::GetExtension(exttype type)
{
    return ExtensionOf(type);
}
