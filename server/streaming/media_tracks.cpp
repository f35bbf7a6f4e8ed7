#include "streaming/media_tracks.h"

#include "config/settings.h"
#include "config/trace.h"
#include "enginectl/engine_tool.h"
#include "http/api_answer.h"
#include "http/query_values.h"
#include "library/share_confine.h"
#include "library/text_codec.h"
#include "platform/file_io.h"
#include "platform/guid.h"
#include "streaming/command_line.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <dirent.h>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace {

constexpr size_t kMaxTrackListBytes = 1 << 20;
constexpr size_t kMaxTracksOfAKind = 256;

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

std::string PercentDecoded(const std::string& text)
{
    const std::string out = PercentDecode(text, PlusSign::Plus).value_or(std::string());
    // Tags are the file's: whatever they hold is shown as text.
    return textcodec::IsValidUtf8(out) ? out : textcodec::WideToUtf8(textcodec::Utf8ToWide(out));
}

// "lang=kor title=... default forced" after the fixed values of a line.
void ReadExtras(std::istringstream& line, MediaTrack& track)
{
    std::string item;
    while (line >> item) {
        if (item.starts_with("lang="))
            track.language = PercentDecoded(item.substr(5));
        else if (item.starts_with("title="))
            track.title = PercentDecoded(item.substr(6));
        else if (item == "default")
            track.isDefault = true;
        else if (item == "forced")
            track.forced = true;
    }
}

std::string Lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsSubtitleExtension(const std::string& extension)
{
    return std::any_of(std::begin(kSubtitleFileExtensions), std::end(kSubtitleFileExtensions),
        [&extension](const char* known) { return extension == known; });
}

std::string KeyOf(const MediaFileVersion& file, int number)
{
    char key[24];
    std::snprintf(key, sizeof key, "%016" PRIx64,
        ContentHash(file.path + '\n' + std::to_string(file.size) + '\n'
            + std::to_string(file.modifiedNs) + '\n' + std::to_string(number)));
    return key;
}

bool IsRegular(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

std::optional<MediaTrackList> ParseTrackList(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != "vembacast-tracks 1")
        return std::nullopt;
    MediaTrackList list;
    list.readable = true;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        MediaTrack track;
        if (keyword == "duration") {
            words >> list.durationSeconds;
        } else if (keyword == "audio" && list.audio.size() < kMaxTracksOfAKind) {
            if (words >> track.number >> track.codec >> track.channels >> track.sampleRate) {
                ReadExtras(words, track);
                list.audio.push_back(std::move(track));
            }
        } else if (keyword == "subtitle" && list.subtitles.size() < kMaxTracksOfAKind) {
            std::string kind;
            if (words >> track.number >> track.codec >> kind) {
                track.text = kind == "text";
                ReadExtras(words, track);
                list.subtitles.push_back(std::move(track));
            }
        }
    }
    return list;
}

std::vector<SubtitleFileBeside> FindSubtitleFilesBeside(
    const std::string& videoPath, const std::string& shareFolder)
{
    std::vector<SubtitleFileBeside> files;
    const size_t slash = videoPath.rfind('/');
    if (slash == std::string::npos)
        return files;
    const std::string folder = videoPath.substr(0, slash + 1);
    const std::string video = videoPath.substr(slash + 1);
    const size_t dot = video.rfind('.');
    const std::string base = dot == std::string::npos || dot == 0 ? video : video.substr(0, dot);
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    while (dir) {
        const dirent* item = readdir(dir.get());
        if (!item)
            break;
        const std::string name = item->d_name;
        const size_t last = name.rfind('.');
        if (name.front() == '.' || last == std::string::npos || last <= base.size()
            || !name.starts_with(base + ".") || !textcodec::IsValidUtf8(name))
            continue;
        const std::string extension = Lowered(name.substr(last + 1));
        const std::string full = folder + name;
        if (!IsSubtitleExtension(extension) || !IsRegular(full)
            || !IsInsideShare(full, shareFolder))
            continue;
        SubtitleFileBeside file { name, extension, {} };
        if (last > base.size() + 1)
            file.language = name.substr(base.size() + 1, last - base.size() - 1);
        files.push_back(std::move(file));
    }
    std::sort(files.begin(), files.end(),
        [](const SubtitleFileBeside& a, const SubtitleFileBeside& b) { return a.name < b.name; });
    return files;
}

MediaTrackBook::MediaTrackBook(EngineLaunch launch, std::string servicesFolder)
    : m_launch(std::move(launch))
    , m_servicesFolder(std::move(servicesFolder))
{
}

MediaTrackList MediaTrackBook::Tracks(const MediaFileVersion& file)
{
    {
        std::lock_guard guard(m_lock);
        for (auto it = m_lists.begin(); it != m_lists.end(); ++it) {
            if (it->first == file) {
                m_lists.splice(m_lists.begin(), m_lists, it);
                return it->second;
            }
        }
    }
    MediaTrackList list;
    const std::string output = m_servicesFolder + "/tracks-" + CreateGuidHex() + ".txt";
    if (!m_servicesFolder.empty()
        && RunEngineTool(m_launch, { "-tracks", EnginePathWord(file.path), "-o", output }, output,
            kTrackListBound)) {
        if (std::optional<std::string> text = ReadFileUpTo(output, kMaxTrackListBytes))
            list = ParseTrackList(*text).value_or(MediaTrackList {});
    }
    unlink(output.c_str());
    std::lock_guard guard(m_lock);
    m_lists.emplace_front(file, list);
    if (m_lists.size() > kRememberedTrackLists)
        m_lists.pop_back();
    return list;
}

std::string MediaTrackBook::SubtitleStreamFile(const MediaFileVersion& file, int number)
{
    if (m_servicesFolder.empty())
        return {};
    const std::string folder = m_servicesFolder + "/.subtitles";
    const std::string kept = folder + "/" + KeyOf(file, number) + ".srt";
    if (IsRegular(kept)) {
        utime(kept.c_str(), nullptr); // used now: the last to go
        return kept;
    }
    CreateFolderPath(folder);
    // A name of this run's own: two requests at once never write one file together.
    const std::string output = folder + "/" + KeyOf(file, number) + "-" + CreateGuidHex() + ".srt";
    const bool written = RunEngineTool(m_launch,
        { "-textsub", std::to_string(number), EnginePathWord(file.path), "-o", output }, output,
        kSubtitleStreamBound);
    if (!written || rename(output.c_str(), kept.c_str()) != 0) {
        unlink(output.c_str());
        return {};
    }
    KeepSubtitleFilesBounded(folder);
    return kept;
}

void MediaTrackBook::KeepSubtitleFilesBounded(const std::string& folder)
{
    std::vector<std::pair<int64_t, std::string>> files;
    for (const std::string& name : ListFolder(folder, FolderEntries::Files)) {
        struct stat info { };
        if (name.ends_with(".srt") && stat((folder + "/" + name).c_str(), &info) == 0)
            files.emplace_back(int64_t(info.st_mtim.tv_sec), folder + "/" + name);
    }
    if (files.size() <= kKeptSubtitleFiles)
        return;
    std::sort(files.begin(), files.end());
    for (size_t i = 0; i + kKeptSubtitleFiles < files.size(); ++i)
        unlink(files[i].second.c_str());
}
