#include "code_page.h"

#include "text_util.h"

#include <cerrno>
#include <iconv.h>

namespace subvoro {

namespace {

    // Owns one iconv conversion descriptor.
    class CIconv {
    public:
        CIconv(const char* to, const char* from)
            : m_handle(iconv_open(to, from))
        {
        }
        ~CIconv()
        {
            if (Ok())
                iconv_close(m_handle);
        }
        CIconv(const CIconv&) = delete;
        CIconv& operator=(const CIconv&) = delete;

        bool Ok() const { return m_handle != reinterpret_cast<iconv_t>(-1); }
        iconv_t Get() const { return m_handle; }

    private:
        iconv_t m_handle;
    };

    // Runs the converter over `in`; at a unit that cannot be converted it writes `substitute` and
    // skips `skip` input bytes, so the output always stands for the whole input.
    std::string Convert(
        CIconv& cd, const std::string& in, const std::string& substitute, size_t skip)
    {
        std::string out;
        char buffer[1024];
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        while (srcLeft > 0) {
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            size_t rc = iconv(cd.Get(), &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, size_t(dst - buffer));
            if (rc != size_t(-1))
                break;
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL: an unreadable or cut-off unit.
            out += substitute;
            size_t n = std::min(skip, srcLeft);
            src += n;
            srcLeft -= n;
        }
        return out;
    }

} // namespace

const char* CodePageOfCharSet(int charSet)
{
    switch (charSet) {
    case 0:
        return "CP1252"; // ANSI_CHARSET
    case 77:
        return "MACINTOSH";
    case 128:
        return "CP932"; // Shift-JIS
    case 129:
        return "CP949"; // Hangul (Unified Hangul Code)
    case 130:
        return "JOHAB";
    case 134:
        return "CP936"; // GB2312
    case 136:
        return "CP950"; // Big5
    case 161:
        return "CP1253";
    case 162:
        return "CP1254";
    case 163:
        return "CP1258";
    case 177:
        return "CP1255";
    case 178:
        return "CP1256";
    case 186:
        return "CP1257";
    case 204:
        return "CP1251";
    case 222:
        return "CP874";
    case 238:
        return "CP1250";
    default:
        return nullptr; // the default, symbol and OEM sets use the system code page
    }
}

std::wstring MultiByteToWide(const std::wstring& bytes, int charSet)
{
    const char* codePage = CodePageOfCharSet(charSet);
    if (!codePage)
        return Utf8ToWide(WideToBytes(bytes));
    CIconv cd("UTF-8", codePage);
    if (!cd.Ok())
        return Utf8ToWide(WideToBytes(bytes));
    return Utf8ToWide(Convert(cd, WideToBytes(bytes), "\xEF\xBF\xBD", 1));
}

std::wstring WideToMultiByte(const std::wstring& text, int charSet)
{
    const char* codePage = CodePageOfCharSet(charSet);
    if (!codePage)
        return BytesToWide(WideToUtf8(text));
    CIconv cd(codePage, "UTF-8");
    if (!cd.Ok())
        return BytesToWide(WideToUtf8(text));
    // Walk the UTF-8 form one character at a time so an unwritable character costs one '?'.
    std::string out;
    for (wchar_t c : text) {
        std::string one;
        AppendUtf8(one, char32_t(c));
        out += Convert(cd, one, "?", one.size());
    }
    return BytesToWide(out);
}

} // namespace subvoro
