// Subvoro: turns a text subtitle file (SAMI above all) into an ASS script for the encoder engine.
//
// The library exports CSubvoroter and its enums, nothing more. Text crossing this boundary is
// UTF-8 in std::string; paths are file-system byte strings.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#define SUBVORO_API __attribute__((visibility("default")))

// Result of CSubvoroter::SubFileOpen.
enum QZSUBERR {
    QZSUB_OK = 0, // opened, and a reader accepted the file
    QZSUB_CANNOT_OPEN = 1, // the file could not be opened
    QZSUB_NOT_ACCEPTED = 2, // opened, but no reader accepted it (or one failed part-way)
};

// Output format of CSubvoroter::SubFileSaveAs; each has the file extension in its name.
enum exttype {
    EXTSRT = 0, // SubRip
    EXTSUB = 1, // MicroDVD frame lines
    EXTSMI = 2, // SAMI
    EXTPSB = 3, // brace-timed lines
    EXTSSA = 4, // SubStation Alpha v4
    EXTASS = 5, // Advanced SubStation Alpha v4+ (what the server writes)
    EXTIDX = 6, // the remaining types write an empty file
    EXTUSF = 7,
    EXTXSS = 8,
    EXTTXT = 9,
    EXTSSF = 10,
    EXTRT = 11,
    EXTTYPE_COUNT = 12,
};

// One item of a timed-text list: a time in milliseconds and an owned, NUL-terminated text.
struct SubtitleItem_t {
    int32_t nTime;
    char* pszText; // allocated with new[]
};

// A timed-text list that SubFileSaveAs(SubtitleList_t*, exttype) fills in place: two items per
// entry, its start with the text and its end with the one-character text " ".
struct SubtitleList_t {
    SubtitleItem_t* pItems = nullptr; // allocated with new[]
    int nCount = 0;

    SubtitleList_t() = default;
    SubtitleList_t(const SubtitleList_t&) = delete;
    SubtitleList_t& operator=(const SubtitleList_t&) = delete;
    ~SubtitleList_t() { Free(); }

    void Free()
    {
        for (int i = 0; pItems && i < nCount; ++i)
            delete[] pItems[i].pszText;
        delete[] pItems;
        pItems = nullptr;
        nCount = 0;
    }
};

class SUBVORO_API CSubvoroter {
public:
    // Told when a reader gives up part-way: the 1-based line and the message text.
    using SyntaxErrorHandler = std::function<void(int nLine, const std::string& strMessage)>;
    // Told once per unknown style name; answers whether to keep warning for this open.
    using UnknownStyleHandler
        = std::function<bool(const std::string& strStyle, const std::string& strMessage)>;

    CSubvoroter();
    ~CSubvoroter();
    CSubvoroter(const CSubvoroter&) = delete;
    CSubvoroter& operator=(const CSubvoroter&) = delete;

    // Without a handler the messages are dropped.
    void SetSyntaxErrorHandler(SyntaxErrorHandler handler);
    void SetUnknownStyleHandler(UnknownStyleHandler handler);

    // The SAMI language ("KR", "EN", "CN", "JP"); takes effect at the next SubFileOpen.
    void SetSamiLang(const std::string& strCode);
    QZSUBERR SubFileOpen(const std::string& strPath);
    // Call after SubFileOpen, which resets the size. False (and no change) if either is negative.
    bool SetDstScreenSize(long nWidth, long nHeight);
    // Sizes, shadows, outlines and lifts the style of the first entry (or "Default").
    bool SetFontProperty(float fFontScale, int nShadow, int nOutline, int nBottomMargin);
    // Writes the subtitle; the extension of type is appended unless the path already has it.
    bool SubFileSaveAs(const std::string& strPath, exttype type);
    bool SubFileSaveAs(SubtitleList_t* pInfo, exttype type);

    // The file extension of a type ("ass" for EXTASS), or nullptr when out of range.
    static const char* GetExtension(exttype type);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
