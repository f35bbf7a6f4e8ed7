// The text-file layer: a buffered file (or memory block) read and written line by line in one of
// five encodings, with the byte-order mark found on open. Positions, seeks and lengths are all
// counted from the end of the byte-order mark.
#pragma once

#include <cstdint>
#include <string>

namespace subvoro {

enum class TextEncoding {
    Ascii = 0, // 8-bit text: each byte is one character
    Utf8 = 1,
    Utf16Le = 2,
    Utf16Be = 3,
    Ansi = 4, // this system's code page, UTF-8, without a mark
};

inline bool IsUnicodeEncoding(TextEncoding e)
{
    return e == TextEncoding::Utf8 || e == TextEncoding::Utf16Le || e == TextEncoding::Utf16Be;
}

class CTextFile {
public:
    enum class SeekFrom { Begin, Current, End };

    CTextFile() = default;
    virtual ~CTextFile();
    CTextFile(const CTextFile&) = delete;
    CTextFile& operator=(const CTextFile&) = delete;

    // Opens for reading and detects the byte-order mark; without one the encoding is Ascii.
    virtual bool Open(const std::string& path);
    // Reads from a copy of `bytes` as if it were a file.
    bool OpenMemory(std::string bytes);
    // Creates the file for writing and writes the mark of the encoding.
    bool Save(const std::string& path, TextEncoding encoding);
    // Writes into memory instead; the bytes are in MemoryOutput().
    void SaveToMemory(TextEncoding encoding);
    // Flushes what is written; false when anything could not be written.
    virtual bool Close();

    bool IsOpen() const { return m_fd >= 0 || m_memory; }
    TextEncoding GetEncoding() const { return m_encoding; }
    const std::string& GetFilePath() const { return m_path; }
    const std::string& MemoryOutput() const { return m_out; }

    // One line without its line feed; carriage returns are dropped. False at the end of the file
    // with nothing read.
    bool ReadString(std::wstring& line);
    void WriteString(const std::wstring& text);

    int64_t GetPosition() const;
    int64_t Seek(int64_t offset, SeekFrom from);
    int64_t GetLength() const;

private:
    int PeekByte(size_t ahead);
    void Consume(size_t count) { m_bufPos += count; }
    bool FillBuffer(size_t need);
    void ReadAsciiLine(std::wstring& line, bool& any);
    void ReadUtf8Line(std::wstring& line, bool& any);
    void ReadUtf16Line(std::wstring& line, bool& any, bool bigEndian);
    void DetectByteOrderMark();
    void FlushOut();
    void Reset();

    int m_fd = -1;
    bool m_memory = false; // reading from m_buffer alone, or writing into m_out alone
    bool m_writing = false;
    bool m_writeFailed = false;
    std::string m_path;
    TextEncoding m_encoding = TextEncoding::Ascii;
    int64_t m_bomLength = 0;
    int64_t m_fileLength = 0;

    std::string m_buffer; // bytes read ahead; m_buffer[0] is at file offset m_bufStart
    size_t m_bufPos = 0;
    int64_t m_bufStart = 0;
    std::string m_out; // bytes written and not yet flushed (or all of them in memory)
};

// A text file that would also fetch a name beginning with "http://"; this system never reads
// subtitles from the network, so such a name is a file that cannot be opened.
class CWebTextFile : public CTextFile {
public:
    bool Open(const std::string& path) override;
};

} // namespace subvoro
