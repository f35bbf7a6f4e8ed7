#include "streaming/font_file.h"

#include "config/trace.h"

#include <fontconfig/fontconfig.h>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

struct FaceName {
    const char* askedFor;
    const char* searched;
};

// The Korean face names of the classic fonts and the names they are installed under.
constexpr FaceName kFaceNames[] = {
    { "굴림", "Gulim" },
    { "바탕", "Batang" },
    { "궁서", "Gungsuh" },
    { "돋움", "Dotum" },
    { "맑은 고딕", "Malgun" },
    { "휴먼아미체", "Ami R" },
    { "휴먼옛체", "Yet R" },
    { "휴먼매직체", "Magic R" },
    { "휴먼엑스포", "Expo M" },
    { "휴먼모음T", "MoeumT R" },
};

struct PatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;

bool CoversHangul(FcPattern* font)
{
    FcCharSet* charset = nullptr;
    if (FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) != FcResultMatch || !charset)
        return false;
    // The first and last syllables of the Hangul block and a common one between.
    return FcCharSetHasChar(charset, 0xAC00) && FcCharSetHasChar(charset, 0xD55C)
        && FcCharSetHasChar(charset, 0xD7A3);
}

// The file of the best Korean font for family (any family when empty), or empty
// when the best match cannot draw Hangul.
std::string MatchKoreanFont(const std::string& family)
{
    PatternPtr pattern(FcPatternCreate());
    if (!pattern)
        return {};
    if (!family.empty())
        FcPatternAddString(
            pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcLangSet* languages = FcLangSetCreate();
    FcLangSetAdd(languages, reinterpret_cast<const FcChar8*>("ko"));
    FcPatternAddLangSet(pattern.get(), FC_LANG, languages);
    FcLangSetDestroy(languages);
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    PatternPtr font(FcFontMatch(nullptr, pattern.get(), &result));
    if (!font || result != FcResultMatch || !CoversHangul(font.get()))
        return {};
    FcChar8* file = nullptr;
    if (FcPatternGetString(font.get(), FC_FILE, 0, &file) != FcResultMatch || !file)
        return {};
    return reinterpret_cast<const char*>(file);
}

} // namespace

std::string MapFontFaceName(const std::string& faceName)
{
    for (const FaceName& entry : kFaceNames) {
        if (faceName == entry.askedFor)
            return entry.searched;
    }
    return faceName;
}

int FontFiles::GetFontFile(const std::string& faceName, std::string& fontPath)
{
    if (faceName.empty())
        return 0;
    std::string found;
    bool known = false;
    {
        std::lock_guard lock(m_lock);
        auto cached = m_cache.find(faceName);
        if (cached != m_cache.end()) {
            known = true;
            found = cached->second;
        }
    }
    if (!known) {
        // fontconfig reads its configuration and font cache with deep stack frames;
        // HTTP worker threads have small stacks, so the match runs on a thread of
        // its own with the default stack.
        std::string file;
        std::thread matcher([&] {
            if (!FcInit())
                return;
            file = MatchKoreanFont(MapFontFaceName(faceName));
            if (file.empty())
                file = MatchKoreanFont({});
        });
        matcher.join();
        if (file.empty())
            TraceMessage(
                kTraceStreamFailure, "GetFontFile : no Hangul font for '%s'", faceName.c_str());
        std::lock_guard lock(m_lock);
        found = m_cache.emplace(faceName, file).first->second;
    }
    if (found.empty())
        return 0;
    fontPath = found;
    return 1;
}

#if defined(__SANITIZE_ADDRESS__)
// fontconfig loses a few bytes while it parses its configuration files, once per
// process; that is its own and not ours to report.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif
