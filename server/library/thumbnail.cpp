#include "library/thumbnail.h"

#include "config/settings.h"
#include "config/trace.h"
#include "library/media_properties.h"
#include "library/thumbnail_cache.h"
#include "library/thumbnail_image.h"
#include "platform/places.h"

#include <sys/stat.h>
#include <thread>

namespace {

constexpr std::chrono::milliseconds kPoolWait { 10000 };

int ParseSide(const std::string& text)
{
    const int64_t value = ParseLeadingInteger(text);
    return value < 0 || value > INT32_MAX ? 0 : int(value);
}

bool IsRegularFile(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A relative name that stays below the services folder.
bool IsUsableName(const std::string& name)
{
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos)
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        if (name.compare(start, end - start, "..") == 0 || end == start)
            return false;
        start = end + 1;
    }
    return true;
}

// The source with an engine slot taken around each of its runs.
FrameSource LimitedFrameSource(FrameSource source, EngineSlots& engines)
{
    return
        [source = std::move(source), &engines](const std::string& mediaPath, EngineFrame& frame) {
            EngineSlots::Slot slot = engines.Take();
            return source(mediaPath, frame);
        };
}

} // namespace

std::string ThumbnailFilePath(const std::string& servicesFolder, const std::string& name, int width)
{
    return servicesFolder + "/" + name + (width < kLargeThumbnailWidth ? "_s.jpg" : "_l.jpg");
}

CThumbnailMaker::CThumbnailMaker(std::function<std::string()> servicesFolder, FrameSource source,
    std::function<void(const std::string& file)> made)
    : m_servicesFolder(std::move(servicesFolder))
    , m_source(std::move(source))
    , m_made(std::move(made))
{
}

std::string CThumbnailMaker::Make(const std::string& path, const std::string& widthText,
    const std::string& heightText, const std::string&, const std::string& name) const
{
    const int width = ParseSide(widthText);
    const int height = ParseSide(heightText);
    if (!IsUsableName(name))
        return {};
    const std::string file = ThumbnailFilePath(m_servicesFolder(), name, width);
    if (IsRegularFile(file)) {
        TraceMessage(kTraceProgress, "No Job QZ_MakeThumbnail : ('%s')", file.c_str());
        MarkThumbnailUsed(file); // the cache keeps what is used
        return file;
    }
    TraceMessage(kTraceProgress, "Not Accessed QZ_MakeThumbnail : ('%s')", file.c_str());
    if (width <= 0 || height <= 0 || width > kMaxThumbnailSide || height > kMaxThumbnailSide
        || !IsRegularFile(path)) {
        TraceMessage(kTraceProgress, "Fail QZ_MakeThumbnail(Bad request) : ('%s')", file.c_str());
        return {};
    }
    CreateFolderPath(GetFolderOf(file));

    EngineFrame frame;
    const FrameResult result = m_source(path, frame);
    if (result == FrameResult::EngineFailed) {
        TraceMessage(kTraceProgress, "Fail QZ_MakeThumbnail(Cannot RunQZThumbEngine) : ('%s')",
            file.c_str());
        return {};
    }
    EngineBitmap picture;
    if (result == FrameResult::Image
        && ReadEngineBitmap(frame.header, frame.pixels, picture) == EngineImageCheck::Ok) {
        if (!SaveStretchedJpeg(picture, width, height, file)) {
            TraceMessage(kTraceProgress, "Fail_1 QZ_MakeThumbnail : ('%s')", file.c_str());
            return {};
        }
        if (m_made)
            m_made(file);
    } else {
        TraceMessage(kTraceProgress, "Fail_2 QZ_MakeThumbnail : ('%s')", file.c_str());
    }
    TraceMessage(kTraceProgress, "Complete QZ_MakeThumbnail : ('%s')", file.c_str());
    return file;
}

ThumbnailService::ThumbnailService(std::string servicesFolder, FrameSource source,
    JobCollector collectShareJobs, CacheLimit cacheLimit, unsigned cores)
    : m_servicesFolder(std::move(servicesFolder))
    , m_engines(cores)
    , m_maker([this] { return m_servicesFolder; }, LimitedFrameSource(std::move(source), m_engines),
          [this](const std::string& file) { PictureMade(file); })
    , m_collectShareJobs(std::move(collectShareJobs))
    , m_cacheLimit(std::move(cacheLimit))
    , m_pool(
          [this](const ThumbInfo& job) {
              return QZ_MakeThumbnail(job.path, job.width, job.height, job.playTime, job.name);
          },
          m_engines.Limit())
    , m_kickOff([this](const std::atomic<bool>& stopping) { KickOffRound(stopping); })
    , m_trim([this](const std::atomic<bool>& stopping) {
        uint64_t limit = m_cacheLimit ? m_cacheLimit() : 0;
        if (limit > 0 && !m_servicesFolder.empty())
            TrimThumbnailCache(m_servicesFolder, limit, stopping);
    })
{
}

void ThumbnailService::QZ_StartShareThumbnails()
{
    m_kickOff.Request();
    m_trim.Request();
}

void ThumbnailService::PictureMade(const std::string& file)
{
    uint64_t limit = m_cacheLimit ? m_cacheLimit() : 0;
    if (limit == 0)
        return;
    struct stat info { };
    uint64_t size = stat(file.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    if (m_madeSinceTrim.fetch_add(size) + size > limit / 8) {
        m_madeSinceTrim = 0;
        m_trim.Request();
    }
}

ThumbnailService::~ThumbnailService()
{
    Shutdown();
}

std::string ThumbnailService::QZ_MakeThumbnail(const std::string& path, const std::string& width,
    const std::string& height, const std::string& playTime, const std::string& name) const
{
    return m_maker.Make(path, width, height, playTime, name);
}

size_t ThumbnailService::QZ_AddThumbnailJobs(std::vector<ThumbInfo> jobs)
{
    return m_pool.AddJobs(std::move(jobs));
}

bool ThumbnailService::QZ_StartThumbnailThreads()
{
    return m_pool.Start(kPoolWait);
}

bool ThumbnailService::QZ_StopThumbnailThreads()
{
    return m_pool.Stop(kPoolWait);
}
