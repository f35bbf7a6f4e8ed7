#include "library/media_properties.h"

#include "config/trace.h"
#include "library/media_info_binding.h"
#include "library/media_properties_cache.h"
#include "library/media_read_query.h"
#include "library/media_reader_process.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace {

double ParseLeadingDouble(const std::string& text)
{
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return 0;
    double value = 0;
    std::from_chars(text.data() + start, text.data() + text.size(), value);
    return value;
}

int ClampToInt(int64_t value)
{
    return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

void FillProperties(const std::vector<std::string>& values, MediaProperties& out)
{
    out.fileSize = ParseLeadingInteger(values[0]);
    out.durationMs = ParseLeadingInteger(values[1]);
    out.codecId = values[2].empty() ? values[3] : values[2];
    out.frameRate = ParseLeadingDouble(values[4]);
    out.width = ClampToInt(ParseLeadingInteger(values[5]));
    out.height = ClampToInt(ParseLeadingInteger(values[6]));
    out.videoFormat = values[7];
    out.audioId = values[8];
    out.audioFormat = values[9];
    out.videoProfile = values[10];
    out.videoLevel = values[11];
    // MediaInfo gives "90.000"; only quarter turns mean anything to a player.
    int degrees = static_cast<int>(std::lround(ParseLeadingDouble(values[12])));
    out.rotation = ((degrees % 360) + 360) % 360;
    if (out.rotation % 90 != 0)
        out.rotation = 0;
}

} // namespace

int64_t ParseLeadingInteger(const std::string& text)
{
    size_t pos = text.find_first_not_of(" \t\r\n");
    if (pos == std::string::npos)
        return 0;
    bool negative = false;
    if (text[pos] == '+' || text[pos] == '-') {
        negative = text[pos] == '-';
        ++pos;
    }
    int64_t value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        int digit = text[pos] - '0';
        if (value > (INT64_MAX - digit) / 10)
            return negative ? INT64_MIN : INT64_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

bool IsDirectPlayableMedia(const MediaProperties& properties)
{
    return properties.videoFormat == "AVC"
        && (properties.audioId.empty() || properties.audioFormat == "AAC");
}

std::string FormatPlayTime(int64_t durationMs)
{
    if (durationMs < 0)
        durationMs = 0;
    int64_t hours = durationMs / 3600000;
    int64_t seconds = durationMs / 1000 - hours * 3600;
    char text[64];
    std::snprintf(text, sizeof(text), "%02lld:%02lld:%02lld", static_cast<long long>(hours),
        static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
    return text;
}

MediaPropertiesReader::MediaPropertiesReader(
    std::string helperProgram, const std::string& cacheFile)
    : m_helperProgram(std::move(helperProgram))
    , m_libraryName(mediainfo::kDefaultLibraryName)
{
    m_pool.SetHelperCommand({ m_helperProgram, m_libraryName });
    if (!cacheFile.empty())
        m_cache = std::make_shared<MediaPropertiesCache>(cacheFile);
}

MediaPropertiesReader::~MediaPropertiesReader() = default;

void MediaPropertiesReader::SetMediaReadTimeout(std::chrono::milliseconds timeout)
{
    m_timeoutMs = timeout.count();
}

void MediaPropertiesReader::SetLibraryName(const std::string& name)
{
    std::lock_guard guard(m_lock);
    m_libraryName = name;
    m_moduleThere = false;
    // Helpers bind the module they were started with: the earlier ones retire.
    m_pool.SetHelperCommand({ m_helperProgram, name });
}

void MediaPropertiesReader::SetCacheFile(const std::string& databaseFile)
{
    std::shared_ptr<MediaPropertiesCache> cache
        = databaseFile.empty() ? nullptr : std::make_shared<MediaPropertiesCache>(databaseFile);
    std::lock_guard guard(m_lock);
    m_cache = std::move(cache);
}

std::shared_ptr<MediaPropertiesCache> MediaPropertiesReader::Cache() const
{
    std::lock_guard guard(m_lock);
    return m_cache;
}

// The server never runs MediaInfo code itself; it only makes sure the module is
// there before it starts a helper that would fail without it.
bool MediaPropertiesReader::IsModuleThere()
{
    std::string name;
    {
        std::lock_guard guard(m_lock);
        if (m_moduleThere)
            return true;
        name = m_libraryName;
    }
    if (!mediainfo::CanBind(name))
        return false;
    std::lock_guard guard(m_lock);
    if (name == m_libraryName)
        m_moduleThere = true;
    return true;
}

MediaReadResult MediaPropertiesReader::ReadWithHelper(const std::string& path, MediaProperties& out)
{
    std::vector<std::string> values;
    MediaReaderOutcome outcome
        = m_pool.Run(path, std::chrono::milliseconds(m_timeoutMs.load()), values);
    switch (outcome) {
    case MediaReaderOutcome::Read:
        if (values.size() != mediainfo::kMediaReadValueCount)
            return MediaReadResult::ReaderFailed;
        FillProperties(values, out);
        return MediaReadResult::Read;
    case MediaReaderOutcome::CannotOpen:
        return MediaReadResult::CannotOpen;
    case MediaReaderOutcome::TimedOut:
        TraceMessage(kTraceSessionLock, "MediaInfo : reading ('%s') timed out", path.c_str());
        return MediaReadResult::ReaderFailed;
    case MediaReaderOutcome::Crashed:
    case MediaReaderOutcome::NoProcess:
        TraceMessage(kTraceSessionLock, "MediaInfo : reader of ('%s') failed", path.c_str());
        return MediaReadResult::ReaderFailed;
    }
    return MediaReadResult::ReaderFailed;
}

MediaReadResult MediaPropertiesReader::ReadMediaPropertiesResult(
    const std::string& path, MediaProperties& out)
{
    out = MediaProperties();
    // A folder would make MediaInfo read every file below it, a FIFO would block it.
    MediaFileStamp stamp;
    if (!IsModuleThere() || !StampRegularFile(path, stamp))
        return MediaReadResult::CannotOpen;
    std::shared_ptr<MediaPropertiesCache> cache = Cache();
    if (cache) {
        if (std::optional<CachedMediaRead> kept = cache->Find(path, stamp)) {
            out = std::move(kept->properties);
            return kept->opened ? MediaReadResult::Read : MediaReadResult::CannotOpen;
        }
    }
    MediaReadResult result = ReadWithHelper(path, out);
    // A crash or an overrun may be the machine's fault, not the file's: not kept.
    // Nor is a read of a file that changed while it was read.
    MediaFileStamp after;
    if (cache && result != MediaReadResult::ReaderFailed && StampRegularFile(path, after)
        && after == stamp)
        cache->Store(path, stamp, { result == MediaReadResult::Read, out });
    return result;
}

bool MediaPropertiesReader::ReadMediaProperties(const std::string& path, MediaProperties& out)
{
    return ReadMediaPropertiesResult(path, out) == MediaReadResult::Read;
}

namespace {

int MovieReadAnswer(const std::string& path, MediaReadResult result)
{
    TraceMessage(kTraceProgress, "GetMovieProperty : ('%s')", path.c_str());
    switch (result) {
    case MediaReadResult::Read:
        return 1;
    case MediaReadResult::CannotOpen:
        TraceMessage(kTraceProgress, "GetMovieProperty : Open Fail");
        return 0;
    case MediaReadResult::ReaderFailed:
        TraceMessage(kTraceProgress, "GetMovieProperty : Fail Catch(...)");
        return 0;
    }
    return 0;
}

} // namespace

int MediaPropertiesReader::GetMovieProperty(
    const std::string& path, std::string& codecId, double& frameRate, int& width, int& height)
{
    MediaProperties properties;
    if (!MovieReadAnswer(path, ReadMediaPropertiesResult(path, properties)))
        return 0;
    codecId = properties.codecId;
    frameRate = properties.frameRate;
    width = properties.width;
    height = properties.height;
    return 1;
}

int MediaPropertiesReader::GetMovieProperty(std::string& codecId, double& frameRate,
    const std::string& path, int& jobDurationMs, int& width, int& height)
{
    MediaProperties properties;
    if (!MovieReadAnswer(path, ReadMediaPropertiesResult(path, properties)))
        return 0;
    jobDurationMs = ClampToInt(properties.durationMs);
    codecId = properties.codecId;
    frameRate = properties.frameRate;
    width = properties.width;
    height = properties.height;
    return 1;
}
