#include "streaming/seek_previews.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/trace.h"
#include "enginectl/engine_census.h"
#include "http/api_answer.h"
#include "http/query_values.h"
#include "library/media_properties_cache.h"
#include "platform/file_io.h"
#include "streaming/command_line.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxIndexBytes = 4096;
constexpr auto kWaitSlice = std::chrono::milliseconds(50);
constexpr const char* kIndexName = "previews.txt";
constexpr const char* kPartSuffix = ".part";

// The preview folders hold plain files only (the sheets and the index).
void RemoveFlatFolder(const std::string& folder)
{
    for (const std::string& name : ListFolder(folder, FolderEntries::Files))
        unlink((folder + "/" + name).c_str());
    rmdir(folder.c_str());
}

int64_t NanosecondsOf(const timespec& time)
{
    return int64_t(time.tv_sec) * 1000000000 + time.tv_nsec;
}

SeekPreviews::StoredFolder Measure(const std::string& parent, const std::string& name)
{
    SeekPreviews::StoredFolder stored { name, 0, 0 };
    struct stat info { };
    const std::string folder = parent + "/" + name;
    if (stat(folder.c_str(), &info) == 0)
        stored.usedNs = NanosecondsOf(info.st_mtim);
    for (const std::string& file : ListFolder(folder, FolderEntries::Files)) {
        if (lstat((folder + "/" + file).c_str(), &info) == 0)
            stored.bytes += int64_t(info.st_blocks) * 512;
    }
    return stored;
}

bool SameStamp(const MediaFileVersion& file)
{
    MediaFileStamp stamp;
    return StampRegularFile(file.path, stamp) && stamp.size == file.size
        && stamp.modifiedNs == file.modifiedNs;
}

} // namespace

int64_t PreviewDiskBound(SettingsStore& settings)
{
    const std::optional<std::string> value
        = settings.Current()->Value(kSettingSection, kKeyPreviewDiskMB);
    const std::optional<int64_t> megabytes
        = value ? ParseWholeNumber(*value, 0, int64_t(1) << 24) : std::nullopt;
    return megabytes.value_or(kDefaultPreviewDiskMB) << 20;
}

SeekPreviews::SeekPreviews(
    EngineLaunch launch, std::string servicesFolder, BusyCheck busy, DiskBound bound)
    : m_launch(std::move(launch))
    , m_folder(servicesFolder.empty() ? std::string() : servicesFolder + "/" + kPreviewFolderName)
    , m_busy(std::move(busy))
    , m_bound(std::move(bound))
{
    // The half-made folders of a server that was stopped while a pass ran.
    for (const std::string& name : ListFolder(m_folder, FolderEntries::Folders)) {
        if (name.ends_with(kPartSuffix))
            RemoveFlatFolder(m_folder + "/" + name);
    }
    m_thread = std::thread([this] { Run(); });
}

SeekPreviews::~SeekPreviews()
{
    Shutdown();
}

std::string SeekPreviews::KeyOf(const MediaFileVersion& file)
{
    char key[24];
    std::snprintf(key, sizeof key, "%016" PRIx64,
        ContentHash(
            file.path + '\n' + std::to_string(file.size) + '\n' + std::to_string(file.modifiedNs)));
    return key;
}

SeekPreviews::Lookup SeekPreviews::Find(const MediaFileVersion& file)
{
    if (m_folder.empty() || (m_bound && m_bound() <= 0))
        return { State::Off, {} };
    const std::string folder = m_folder + "/" + KeyOf(file);
    if (std::optional<std::string> text = ReadFileUpTo(folder + "/" + kIndexName, kMaxIndexBytes)) {
        if (std::optional<PreviewIndex> index = ParsePreviewIndex(*text)) {
            utimensat(AT_FDCWD, folder.c_str(), nullptr, 0); // used now: the last to go
            return { State::Ready, *index };
        }
        RemoveFlatFolder(folder); // not the engine's: made again
    }
    {
        std::lock_guard lock(m_lock);
        if (std::find(m_failures.begin(), m_failures.end(), file) != m_failures.end())
            return { State::Failed, {} };
        if (m_stopping || m_inFlight.count(KeyOf(file)) || m_queue.size() >= kMaxQueued)
            return { State::Pending, {} };
        m_queue.push_back(file);
        m_inFlight.insert(KeyOf(file));
    }
    m_changed.notify_all();
    return { State::Pending, {} };
}

std::string SeekPreviews::SheetFile(const MediaFileVersion& file, int sheet) const
{
    if (m_folder.empty() || sheet < 0)
        return {};
    const std::string path = m_folder + "/" + KeyOf(file) + "/" + std::to_string(sheet) + ".jpg";
    struct stat info { };
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? path : std::string();
}

void SeekPreviews::Wake()
{
    {
        std::lock_guard lock(m_lock);
        m_woken = true;
    }
    m_changed.notify_all();
}

void SeekPreviews::SetObserver(std::function<void(const std::string&, Event)> observer)
{
    std::lock_guard lock(m_lock);
    m_observer = std::move(observer);
}

void SeekPreviews::SetPassTimeout(std::chrono::milliseconds timeout)
{
    m_timeoutMs = timeout.count();
}

void SeekPreviews::Shutdown()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
        m_queue.clear();
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void SeekPreviews::Notify(const std::string& path, Event event)
{
    std::function<void(const std::string&, Event)> observer;
    {
        std::lock_guard lock(m_lock);
        observer = m_observer;
    }
    if (observer)
        observer(path, event);
}

void SeekPreviews::Run()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping)
            return;
        const MediaFileVersion next = m_queue.front();
        lock.unlock();
        const bool busy = m_busy && m_busy();
        if (busy)
            Notify(next.path, Event::Deferred);
        lock.lock();
        // A shutdown may have emptied the queue meanwhile.
        if (m_stopping || m_queue.empty())
            continue;
        if (busy) {
            m_changed.wait_for(lock, kBusyRecheck, [this] { return m_stopping || m_woken; });
            m_woken = false;
            continue;
        }
        m_queue.pop_front();
        lock.unlock();
        const bool made = RunPass(next);
        if (made)
            KeepUnderBound(next);
        else if (!m_stopping)
            RememberFailure(next);
        TraceMessage(
            kTraceProgress, "SeekPreviews : ('%s') %s", next.path.c_str(), made ? "made" : "none");
        Notify(next.path, made ? Event::Made : Event::Failed);
        lock.lock();
        m_inFlight.erase(KeyOf(next));
    }
}

bool SeekPreviews::RunPass(const MediaFileVersion& file)
{
    if (!m_launch.spawner || !SameStamp(file))
        return false;
    CreateFolderPath(m_folder);
    const std::string target = m_folder + "/" + KeyOf(file);
    RemoveFlatFolder(target); // an index that could not be read
    SpawnRequest request;
    request.program = m_launch.enginePath;
    request.args = { "-previews", EnginePathWord(file.path), "-o", target };
    request.environment.emplace_back(kEngineCountVariable,
        m_launch.census ? m_launch.census->CountForNewEngine() : std::string("1"));
    std::shared_ptr<ChildProcess> child = m_launch.spawner->Spawn(request);
    if (!child)
        return false;
    if (m_launch.census)
        m_launch.census->Note(child);
    const auto deadline
        = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeoutMs.load());
    bool ended = false;
    while (!ended && !m_stopping && std::chrono::steady_clock::now() < deadline)
        ended = child->WaitForExit(kWaitSlice);
    if (!ended) {
        child->Kill();
        RemoveFlatFolder(target + kPartSuffix);
        TraceMessage(kTraceStreamFailure, "SeekPreviews : ('%s') stopped", file.path.c_str());
        return false;
    }
    struct stat info { };
    const bool written = stat((target + "/" + kIndexName).c_str(), &info) == 0;
    // Pictures of a file that changed meanwhile would be kept under its old name.
    if (written && !SameStamp(file)) {
        RemoveFlatFolder(target);
        return false;
    }
    return written;
}

std::vector<std::string> SeekPreviews::FoldersOverBound(
    std::vector<StoredFolder> folders, int64_t bound)
{
    std::sort(folders.begin(), folders.end(), [](const StoredFolder& a, const StoredFolder& b) {
        return a.usedNs != b.usedNs ? a.usedNs < b.usedNs : a.name < b.name;
    });
    int64_t total = 0;
    for (const StoredFolder& folder : folders)
        total += folder.bytes;
    std::vector<std::string> over;
    for (size_t i = 0; i < folders.size() && total > bound; ++i) {
        over.push_back(folders[i].name);
        total -= folders[i].bytes;
    }
    return over;
}

void SeekPreviews::KeepUnderBound(const MediaFileVersion& made)
{
    const int64_t bound = m_bound ? m_bound() : int64_t(kDefaultPreviewDiskMB) << 20;
    std::vector<StoredFolder> folders;
    for (const std::string& name : ListFolder(m_folder, FolderEntries::Folders)) {
        if (!name.ends_with(kPartSuffix))
            folders.push_back(Measure(m_folder, name));
    }
    const std::string madeKey = KeyOf(made);
    for (const std::string& name : FoldersOverBound(std::move(folders), bound)) {
        RemoveFlatFolder(m_folder + "/" + name);
        TraceMessage(kTraceProgress, "SeekPreviews : folder %s removed for room", name.c_str());
        Notify(name, Event::Evicted);
        // Previews larger than the whole bound would be made again at every play.
        if (name == madeKey)
            RememberFailure(made);
    }
}

void SeekPreviews::RememberFailure(const MediaFileVersion& file)
{
    std::lock_guard lock(m_lock);
    m_failures.remove(file);
    m_failures.push_front(file);
    if (m_failures.size() > kRememberedFailures)
        m_failures.pop_back();
}
