#include "library/keyframe_indexer.h"

#include "config/trace.h"
#include "platform/file_io.h"

#include <cstdlib>
#include <unistd.h>

namespace {

constexpr size_t kRememberedFiles = 32;
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

// A fresh empty file for the engine to replace with the index; empty when none can
// be made.
std::string MakeScratchFile(const std::string& folder)
{
    std::string name = folder + "/vembacast-keyframes-XXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0)
        return {};
    close(fd);
    return name;
}

// The engine reads a word that starts with '-' as an option.
std::string PathWord(const std::string& path)
{
    return path.starts_with('-') ? "./" + path : path;
}

} // namespace

KeyframeIndexer::KeyframeIndexer(Launch launch, CacheSource cache)
    : m_launch(std::move(launch))
    , m_cache(std::move(cache))
    , m_passes([this](const std::atomic<bool>& stopping) { RunPasses(stopping); })
{
}

KeyframeIndexer::~KeyframeIndexer()
{
    Shutdown();
}

void KeyframeIndexer::SetPassTimeout(std::chrono::milliseconds timeout)
{
    m_timeoutMs = timeout.count();
}

void KeyframeIndexer::SetPassObserver(std::function<void(const std::string&, State)> observer)
{
    std::lock_guard lock(m_lock);
    m_observer = std::move(observer);
}

void KeyframeIndexer::Shutdown()
{
    m_shutDown = true;
    {
        std::lock_guard lock(m_lock);
        m_queue.clear();
    }
    m_passes.Stop();
}

std::optional<KeyframeIndexer::Lookup> KeyframeIndexer::Recall(
    const std::string& path, const MediaFileStamp& stamp)
{
    std::lock_guard lock(m_lock);
    for (auto it = m_recent.begin(); it != m_recent.end(); ++it) {
        if (it->path != path)
            continue;
        if (!(it->stamp == stamp))
            return std::nullopt;
        m_recent.splice(m_recent.begin(), m_recent, it);
        return Lookup { it->state, it->index };
    }
    return std::nullopt;
}

void KeyframeIndexer::Keep(const std::string& path, const MediaFileStamp& stamp, State state,
    std::shared_ptr<const MediaKeyframeIndex> index)
{
    std::lock_guard lock(m_lock);
    m_recent.remove_if([&](const Remembered& entry) { return entry.path == path; });
    m_recent.push_front({ path, stamp, state, std::move(index) });
    if (m_recent.size() > kRememberedFiles)
        m_recent.pop_back();
}

KeyframeIndexer::Lookup KeyframeIndexer::Find(const std::string& path)
{
    MediaFileStamp stamp;
    if (!StampRegularFile(path, stamp))
        return {};
    if (std::optional<Lookup> recalled = Recall(path, stamp))
        return *recalled;
    std::shared_ptr<MediaPropertiesCache> cache = m_cache ? m_cache() : nullptr;
    std::optional<CachedKeyframeIndex> kept
        = cache ? cache->FindKeyframeIndex(path, stamp) : std::nullopt;
    if (!kept)
        return {};
    Lookup found;
    found.state = State::NoIndex;
    if (kept->indexed) {
        if (std::optional<MediaKeyframeIndex> index = ParseKeyframeIndex(kept->text)) {
            found.state = State::Ready;
            found.index = std::make_shared<const MediaKeyframeIndex>(std::move(*index));
        }
    }
    Keep(path, stamp, found.state, found.index);
    return found;
}

void KeyframeIndexer::Request(const std::string& path)
{
    if (m_shutDown || Find(path).state != State::Unknown)
        return;
    {
        std::lock_guard lock(m_lock);
        if (m_queued.count(path) || m_queue.size() >= kMaxQueued)
            return;
        m_queue.push_back(path);
        m_queued.insert(path);
    }
    m_passes.Request();
}

void KeyframeIndexer::RunPasses(const std::atomic<bool>& stopping)
{
    for (;;) {
        std::string path;
        std::function<void(const std::string&, State)> observer;
        {
            std::lock_guard lock(m_lock);
            if (m_queue.empty() || stopping)
                return;
            path = m_queue.front();
            m_queue.pop_front();
            observer = m_observer;
        }
        MediaFileStamp before;
        State state = State::Unknown;
        if (StampRegularFile(path, before)) {
            PassResult result = RunPass(path, stopping);
            MediaFileStamp after;
            // A file that changed while it was read is read again next time.
            if (result.state != State::Unknown && StampRegularFile(path, after)
                && after == before) {
                std::optional<MediaKeyframeIndex> index = ParseKeyframeIndex(result.text);
                state = index ? State::Ready : State::NoIndex;
                std::shared_ptr<const MediaKeyframeIndex> shared = index
                    ? std::make_shared<const MediaKeyframeIndex>(std::move(*index))
                    : nullptr;
                if (std::shared_ptr<MediaPropertiesCache> cache = m_cache ? m_cache() : nullptr)
                    cache->StoreKeyframeIndex(
                        path, before, { index.has_value(), index ? result.text : std::string() });
                Keep(path, before, state, std::move(shared));
            }
        }
        {
            std::lock_guard lock(m_lock);
            m_queued.erase(path);
        }
        TraceMessage(kTraceProgress, "KeyframeIndexer : ('%s') %s", path.c_str(),
            state == State::Ready         ? "indexed"
                : state == State::NoIndex ? "no index"
                                          : "failed");
        if (observer)
            observer(path, state);
    }
}

KeyframeIndexer::PassResult KeyframeIndexer::RunPass(
    const std::string& path, const std::atomic<bool>& stopping)
{
    std::string output = MakeScratchFile(m_launch.scratchFolder);
    if (output.empty() || !m_launch.spawner)
        return {};
    SpawnRequest request;
    request.program = m_launch.enginePath;
    request.args = { "-keyframes", PathWord(path), "-o", output };
    std::unique_ptr<ChildProcess> child = m_launch.spawner->Spawn(request);
    PassResult result;
    if (child) {
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeoutMs.load());
        bool ended = false;
        while (!ended && !stopping && std::chrono::steady_clock::now() < deadline)
            ended = child->WaitForExit(kWaitSlice);
        if (ended) {
            // The engine replaces the empty file only with a whole index; an engine
            // that found no video (or could not read the file) leaves it empty.
            std::optional<std::string> text = ReadFileUpTo(output, kMaxIndexTextBytes + 1);
            if (text)
                result = { text->empty() ? State::NoIndex : State::Ready, std::move(*text) };
        } else {
            child->Kill();
            TraceMessage(kTraceProgress, "KeyframeIndexer : ('%s') ran out of time", path.c_str());
        }
    }
    unlink(output.c_str());
    unlink((output + ".part").c_str());
    return result;
}
