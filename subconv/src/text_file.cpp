#include "text_file.h"

#include "text_util.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace subvoro {

namespace {

    constexpr size_t kChunk = 64 * 1024;

    void AppendUnit16(std::string& out, uint32_t unit, bool bigEndian)
    {
        if (bigEndian) {
            out.push_back(char((unit >> 8) & 0xFF));
            out.push_back(char(unit & 0xFF));
        } else {
            out.push_back(char(unit & 0xFF));
            out.push_back(char((unit >> 8) & 0xFF));
        }
    }

    void AppendUtf16(std::string& out, char32_t c, bool bigEndian)
    {
        if (c > 0x10FFFF) {
            AppendUnit16(out, '?', bigEndian);
        } else if (c >= 0x10000) {
            c -= 0x10000;
            AppendUnit16(out, 0xD800 | (c >> 10), bigEndian);
            AppendUnit16(out, 0xDC00 | (c & 0x3FF), bigEndian);
        } else {
            AppendUnit16(out, c, bigEndian);
        }
    }

    // The mark a Unicode file starts with; 8-bit text has none.
    std::string ByteOrderMark(TextEncoding encoding)
    {
        switch (encoding) {
        case TextEncoding::Utf8:
            return "\xEF\xBB\xBF";
        case TextEncoding::Utf16Le:
            return "\xFF\xFE";
        case TextEncoding::Utf16Be:
            return "\xFE\xFF";
        default:
            return {};
        }
    }

} // namespace

CTextFile::~CTextFile()
{
    Close();
}

void CTextFile::Reset()
{
    m_memory = false;
    m_writing = false;
    m_writeFailed = false;
    m_path.clear();
    m_encoding = TextEncoding::Ascii;
    m_bomLength = 0;
    m_fileLength = 0;
    m_buffer.clear();
    m_bufPos = 0;
    m_bufStart = 0;
    m_out.clear();
}

bool CTextFile::Open(const std::string& path)
{
    Close();
    Reset();
    // Non-blocking, so that a named pipe in place of a subtitle cannot stall the open; only a
    // regular file is read (a device or pipe could feed an endless line).
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_fileLength = int64_t(st.st_size);
    DetectByteOrderMark();
    return true;
}

bool CTextFile::OpenMemory(std::string bytes)
{
    Close();
    Reset();
    m_memory = true;
    m_fileLength = int64_t(bytes.size());
    m_buffer = std::move(bytes);
    DetectByteOrderMark();
    return true;
}

void CTextFile::DetectByteOrderMark()
{
    m_encoding = TextEncoding::Ascii;
    m_bomLength = 0;
    const int b0 = PeekByte(0);
    const int b1 = PeekByte(1);
    if (b0 == 0xFF && b1 == 0xFE) {
        m_encoding = TextEncoding::Utf16Le;
        m_bomLength = 2;
    } else if (b0 == 0xFE && b1 == 0xFF) {
        m_encoding = TextEncoding::Utf16Be;
        m_bomLength = 2;
    } else if (b0 == 0xEF && b1 == 0xBB) {
        const int b2 = PeekByte(2);
        if (b2 < 0) {
            // A file of just these two bytes: UTF-8 with nothing in it.
            m_encoding = TextEncoding::Utf8;
            m_bomLength = 2;
        } else if (b2 == 0xBF) {
            m_encoding = TextEncoding::Utf8;
            m_bomLength = 3;
        }
    }
    Seek(0, SeekFrom::Begin);
}

bool CTextFile::Save(const std::string& path, TextEncoding encoding)
{
    Close();
    Reset();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    m_fd = fd;
    m_path = path;
    m_writing = true;
    m_encoding = encoding;
    m_out = ByteOrderMark(encoding);
    return true;
}

void CTextFile::SaveToMemory(TextEncoding encoding)
{
    Close();
    Reset();
    m_memory = true;
    m_writing = true;
    m_encoding = encoding;
    m_out = ByteOrderMark(encoding);
}

bool CTextFile::Close()
{
    bool ok = true;
    if (m_writing) {
        FlushOut();
        ok = !m_writeFailed;
    }
    if (m_fd >= 0) {
        if (::close(m_fd) != 0 && m_writing)
            ok = false;
        m_fd = -1;
    }
    m_writing = false;
    m_memory = false;
    m_buffer.clear();
    m_bufPos = 0;
    m_bufStart = 0;
    return ok;
}

void CTextFile::FlushOut()
{
    if (m_memory || m_fd < 0)
        return;
    size_t done = 0;
    while (done < m_out.size()) {
        ssize_t n = ::write(m_fd, m_out.data() + done, m_out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_writeFailed = true;
            break;
        }
        done += size_t(n);
    }
    m_out.clear();
}

void CTextFile::WriteString(const std::wstring& text)
{
    if (!m_writing)
        return;
    for (wchar_t wc : text) {
        const char32_t c = char32_t(wc);
        switch (m_encoding) {
        case TextEncoding::Ascii:
            if (c == U'\n')
                m_out += "\r\n";
            else if (c < 256)
                m_out.push_back(char(c));
            else
                AppendUtf8(m_out, c); // this system's code page
            break;
        case TextEncoding::Utf8:
            if (c == U'\n')
                m_out += "\r\n";
            else
                AppendUtf8(m_out, c == 0xFFFF ? U'?' : c);
            break;
        case TextEncoding::Utf16Le:
        case TextEncoding::Utf16Be: {
            const bool bigEndian = m_encoding == TextEncoding::Utf16Be;
            if (c == U'\n')
                AppendUtf16(m_out, U'\r', bigEndian);
            AppendUtf16(m_out, c, bigEndian);
            break;
        }
        case TextEncoding::Ansi:
            if (c == U'\n')
                m_out += "\r\n";
            else
                AppendUtf8(m_out, c);
            break;
        }
    }
    if (m_out.size() >= kChunk)
        FlushOut();
}

bool CTextFile::FillBuffer(size_t need)
{
    if (m_memory || m_fd < 0 || m_writing)
        return m_buffer.size() - m_bufPos >= need;
    if (m_bufPos >= kChunk) {
        m_buffer.erase(0, m_bufPos);
        m_bufStart += int64_t(m_bufPos);
        m_bufPos = 0;
    }
    while (m_buffer.size() - m_bufPos < need) {
        const size_t old = m_buffer.size();
        m_buffer.resize(old + kChunk);
        ssize_t n = ::read(m_fd, m_buffer.data() + old, kChunk);
        if (n < 0 && errno == EINTR) {
            m_buffer.resize(old);
            continue;
        }
        m_buffer.resize(old + size_t(std::max<ssize_t>(n, 0)));
        if (n <= 0)
            return false;
    }
    return true;
}

int CTextFile::PeekByte(size_t ahead)
{
    if (m_bufPos + ahead >= m_buffer.size() && !FillBuffer(ahead + 1))
        return -1;
    return static_cast<unsigned char>(m_buffer[m_bufPos + ahead]);
}

int64_t CTextFile::GetLength() const
{
    int64_t length = m_fileLength;
    if (m_fd >= 0 && !m_writing) {
        struct stat st { };
        if (::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode))
            length = int64_t(st.st_size);
    }
    return std::max<int64_t>(0, length - m_bomLength);
}

int64_t CTextFile::GetPosition() const
{
    return m_bufStart + int64_t(m_bufPos) - m_bomLength;
}

int64_t CTextFile::Seek(int64_t offset, SeekFrom from)
{
    if (m_writing)
        return GetPosition();
    int64_t base = 0;
    if (from == SeekFrom::Current)
        base = GetPosition();
    else if (from == SeekFrom::End)
        base = GetLength();
    const int64_t target = std::clamp<int64_t>(base + offset, 0, GetLength()) + m_bomLength;
    const int64_t bufferEnd = m_bufStart + int64_t(m_buffer.size());
    if (m_memory || (target >= m_bufStart && target <= bufferEnd)) {
        m_bufPos = size_t(std::clamp<int64_t>(target - m_bufStart, 0, int64_t(m_buffer.size())));
    } else if (m_fd >= 0 && ::lseek(m_fd, target, SEEK_SET) == target) {
        m_buffer.clear();
        m_bufPos = 0;
        m_bufStart = target;
    }
    return GetPosition();
}

void CTextFile::ReadAsciiLine(std::wstring& line, bool& any)
{
    for (;;) {
        if (m_bufPos >= m_buffer.size() && !FillBuffer(1))
            return;
        const char* begin = m_buffer.data() + m_bufPos;
        const size_t avail = m_buffer.size() - m_bufPos;
        const void* lf = std::memchr(begin, '\n', avail);
        const size_t take = lf ? size_t(static_cast<const char*>(lf) - begin) : avail;
        for (size_t i = 0; i < take; ++i) {
            const unsigned char b = static_cast<unsigned char>(begin[i]);
            if (b != '\r')
                line.push_back(wchar_t(b));
        }
        any = true;
        Consume(take + (lf ? 1 : 0));
        if (lf)
            return;
    }
}

void CTextFile::ReadUtf8Line(std::wstring& line, bool& any)
{
    auto isCont = [this](size_t k) {
        const int b = PeekByte(k);
        return b >= 0 && (b & 0xC0) == 0x80;
    };
    for (int b; (b = PeekByte(0)) >= 0;) {
        any = true;
        if (b == '\n') {
            Consume(1);
            return;
        }
        size_t len = 0;
        char32_t c = 0;
        if (b < 0x80) {
            len = 1, c = char32_t(b);
        } else if (b >= 0xC2 && b <= 0xDF && isCont(1)) {
            len = 2, c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF && isCont(1) && isCont(2)) {
            len = 3, c = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4 && isCont(1) && isCont(2) && isCont(3)) {
            len = 4, c = b & 0x07;
        }
        if (len == 0) {
            Consume(1);
            line.push_back(L'?');
            continue;
        }
        for (size_t k = 1; k < len; ++k)
            c = (c << 6) | char32_t(PeekByte(k) & 0x3F);
        Consume(len);
        if (c != U'\r')
            line.push_back(wchar_t(c));
    }
}

void CTextFile::ReadUtf16Line(std::wstring& line, bool& any, bool bigEndian)
{
    auto unitAt = [&](size_t k) -> int {
        const int a = PeekByte(k);
        const int b = PeekByte(k + 1);
        if (a < 0 || b < 0)
            return -1;
        return bigEndian ? (a << 8) | b : (b << 8) | a;
    };
    for (;;) {
        const int unit = unitAt(0);
        if (unit < 0) {
            // A lone byte at the end of an odd-sized file holds no character.
            if (PeekByte(0) >= 0) {
                Consume(1);
                any = true;
            }
            return;
        }
        any = true;
        Consume(2);
        if (unit == '\n')
            return;
        if (unit == '\r')
            continue;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const int low = unitAt(0);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                Consume(2);
                line.push_back(wchar_t(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
                continue;
            }
        }
        line.push_back(wchar_t(unit));
    }
}

bool CTextFile::ReadString(std::wstring& line)
{
    line.clear();
    if (m_writing || !IsOpen())
        return false;
    bool any = false;
    switch (m_encoding) {
    case TextEncoding::Ascii:
        ReadAsciiLine(line, any);
        break;
    case TextEncoding::Utf8:
        ReadUtf8Line(line, any);
        break;
    case TextEncoding::Utf16Le:
        ReadUtf16Line(line, any, false);
        break;
    case TextEncoding::Utf16Be:
        ReadUtf16Line(line, any, true);
        break;
    case TextEncoding::Ansi: {
        std::wstring bytes;
        ReadAsciiLine(bytes, any);
        line = Utf8ToWide(WideToBytes(bytes));
        break;
    }
    }
    return any;
}

bool CWebTextFile::Open(const std::string& path)
{
    if (path.rfind("http://", 0) == 0) {
        Close();
        return false;
    }
    return CTextFile::Open(path);
}

} // namespace subvoro
