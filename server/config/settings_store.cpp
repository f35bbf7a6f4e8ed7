#include "config/settings_store.h"

#include "config/settings_file.h"
#include "config/trace.h"
#include "config/utf8_text.h"
#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr off_t kMaxSettingsFileSize = 16 * 1024 * 1024; // anything larger is not ours

// The integer reading of a value: an optional sign and the leading decimal digits;
// an empty value reads as def, values beyond int are held at its limits.
int LeadingInteger(const std::string& text, int def)
{
    if (text.empty())
        return def;
    size_t at = 0;
    bool negative = false;
    if (text[at] == '-' || text[at] == '+') {
        negative = text[at] == '-';
        ++at;
    }
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

} // namespace

SettingsSnapshot::SettingsSnapshot(
    std::optional<ini::IniDocument> settings, std::optional<ini::IniDocument> folderList)
    : m_settings(std::move(settings))
    , m_folderList(std::move(folderList))
{
}

std::optional<std::string> SettingsSnapshot::Value(
    const std::string& section, const std::string& key) const
{
    if (!m_settings)
        return std::nullopt;
    return m_settings->Value(section, key);
}

int SettingsSnapshot::Int(const std::string& key, int def, const std::string& section) const
{
    if (!m_settings)
        return 0;
    std::optional<std::string> value = m_settings->Value(section, key);
    return value ? LeadingInteger(*value, def) : def;
}

std::string SettingsSnapshot::Text(
    const std::string& key, const std::string& def, const std::string& section) const
{
    if (!m_settings)
        return std::string();
    std::optional<std::string> value = m_settings->Value(section, key);
    return CutUtf8(SanitizeUtf8(value ? *value : def), kMaxSettingText);
}

std::vector<FolderListEntry> SettingsSnapshot::Folders() const
{
    std::vector<FolderListEntry> entries;
    if (!m_folderList)
        return entries;
    for (int i = 0;; ++i) {
        auto value = m_folderList->Value(kFolderSection, "path" + std::to_string(i));
        if (!value || value->empty())
            break;
        std::string text = SanitizeUtf8(*value);
        size_t bar = text.find('|');
        if (bar == std::string::npos)
            entries.push_back({ text, std::string() });
        else
            entries.push_back({ text.substr(0, bar), text.substr(bar + 1) });
    }
    return entries;
}

SettingsStore::SettingsStore(std::string dataFolder)
    : m_dataFolder(std::move(dataFolder))
{
}

std::string SettingsStore::SettingsFilePath() const
{
    return m_dataFolder.empty() ? std::string() : m_dataFolder + "/" + kSettingsFileName;
}

std::string SettingsStore::FolderListFilePath() const
{
    return m_dataFolder.empty() ? std::string() : m_dataFolder + "/" + kFolderListFileName;
}

SettingsStore::FileIdentity SettingsStore::IdentityOf(const std::string& path)
{
    struct stat info { };
    if (path.empty() || stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    return { true, static_cast<unsigned long long>(info.st_ino),
        static_cast<long long>(info.st_size),
        static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec };
}

std::string SettingsStore::PathOf(Which which) const
{
    return which == Which::Settings ? SettingsFilePath() : FolderListFilePath();
}

namespace {

struct RawFile {
    std::optional<std::string> data; // nullopt: no such file
    struct stat info { };
};

// The bytes of exactly the file whose identity goes with them.
RawFile ReadRaw(const std::string& path)
{
    RawFile raw;
    if (path.empty())
        return raw;
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd || fstat(fd.Get(), &raw.info) != 0 || !S_ISREG(raw.info.st_mode))
        return raw;
    std::string data;
    char buffer[8192];
    for (;;) {
        ssize_t got = read(fd.Get(), buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        data.append(buffer, static_cast<size_t>(got));
        if (static_cast<off_t>(data.size()) >= kMaxSettingsFileSize)
            break;
    }
    raw.data = std::move(data);
    return raw;
}

std::string BackupPathOf(const std::string& path)
{
    return path + ".bak";
}

// The copy every write keeps beside the file, when it reads back whole.
std::optional<ini::IniDocument> ReadBackup(const std::string& path)
{
    RawFile raw = ReadRaw(BackupPathOf(path));
    if (!raw.data)
        return std::nullopt;
    SettingsFileCheck check = CheckSettingsText(*raw.data);
    return check.whole ? check.document : std::nullopt;
}

} // namespace

SettingsStore::FileState SettingsStore::LoadChecked(
    Which which, const std::optional<ini::IniDocument>& lastGood)
{
    FileState state;
    const std::string path = PathOf(which);
    RawFile raw = ReadRaw(path);
    if (!raw.data)
        return state;
    state.identity = { true, static_cast<unsigned long long>(raw.info.st_ino),
        static_cast<long long>(raw.info.st_size),
        static_cast<long long>(raw.info.st_mtim.tv_sec) * 1000000000LL + raw.info.st_mtim.tv_nsec };
    SettingsFileCheck check = CheckSettingsText(*raw.data);
    if (check.whole) {
        state.document = std::move(check.document);
        state.wholeOnDisk = true;
        return state;
    }
    SettingsFileProblem problem { path, check.problem, {}, false };
    std::optional<ini::IniDocument> good = lastGood ? lastGood : ReadBackup(path);
    if (!good) {
        // Left where it is: a later start must meet it again, not a missing file that
        // would read as a first start with every setting at its default.
        TraceMessage(kTraceWebFailure,
            "Settings - '%s' does not read back whole (%s); no good copy", path.c_str(),
            check.problem.c_str());
        state.refused = problem;
        std::lock_guard lock(m_lock);
        m_problems.push_back(problem);
        return state;
    }
    problem.goodCopyUsed = true;
    problem.setAsideAs = SetFileAside(path, "damaged");
    const bool restored = !problem.setAsideAs.empty() && WriteSealed(which, *good, false);
    TraceMessage(kTraceWebFailure,
        "Settings - '%s' does not read back whole (%s): set aside as '%s', the last good copy %s",
        path.c_str(), check.problem.c_str(), problem.setAsideAs.c_str(),
        restored ? "took its place" : "is used");
    state.document = std::move(good);
    // Unmoved or unwritten, the damaged file keeps its identity, so it is not read
    // again until it changes.
    state.identity = restored ? IdentityOf(path) : state.identity;
    state.wholeOnDisk = restored;
    std::lock_guard lock(m_lock);
    m_problems.push_back(problem);
    return state;
}

bool SettingsStore::Changed()
{
    FileIdentity settings = IdentityOf(SettingsFilePath());
    FileIdentity folders = IdentityOf(FolderListFilePath());
    std::lock_guard lock(m_lock);
    return !m_snapshot || settings != m_settings.identity || folders != m_folders.identity;
}

std::shared_ptr<const SettingsSnapshot> SettingsStore::MakeSnapshotLocked()
{
    m_snapshot = std::make_shared<const SettingsSnapshot>(m_settings.document, m_folders.document);
    return m_snapshot;
}

bool SettingsStore::LoadChanged()
{
    bool changed = false;
    for (Which which : { Which::Settings, Which::FolderList }) {
        FileIdentity onDisk = IdentityOf(PathOf(which));
        std::optional<ini::IniDocument> lastGood;
        {
            std::lock_guard lock(m_lock);
            if (m_snapshot && onDisk == StateOf(which).identity)
                continue;
            lastGood = StateOf(which).document;
        }
        FileState loaded = LoadChecked(which, lastGood);
        std::lock_guard lock(m_lock);
        StateOf(which) = std::move(loaded);
        changed = true;
    }
    std::lock_guard lock(m_lock);
    if (changed || !m_snapshot)
        MakeSnapshotLocked();
    return changed;
}

void SettingsStore::Reload()
{
    std::shared_ptr<const SettingsSnapshot> snapshot;
    {
        std::lock_guard writing(m_writeLock);
        // Another reader or a writer may have brought the snapshot up to date meanwhile.
        if (!LoadChanged())
            return;
        std::lock_guard lock(m_lock);
        snapshot = m_snapshot;
    }
    Notify(snapshot);
}

std::shared_ptr<const SettingsSnapshot> SettingsStore::Current()
{
    if (Changed())
        Reload();
    std::lock_guard lock(m_lock);
    return m_snapshot ? m_snapshot : std::make_shared<const SettingsSnapshot>();
}

std::optional<SettingsFileProblem> SettingsStore::Refusal()
{
    Current();
    std::lock_guard lock(m_lock);
    return m_settings.refused ? m_settings.refused : m_folders.refused;
}

std::vector<SettingsFileProblem> SettingsStore::TakeProblems()
{
    Current();
    std::lock_guard lock(m_lock);
    return std::exchange(m_problems, {});
}

bool SettingsStore::StartFresh()
{
    std::shared_ptr<const SettingsSnapshot> snapshot;
    bool moved = true;
    {
        std::lock_guard writing(m_writeLock);
        for (Which which : { Which::Settings, Which::FolderList }) {
            bool refused = false;
            {
                std::lock_guard lock(m_lock);
                refused = StateOf(which).refused.has_value();
            }
            if (!refused)
                continue;
            std::string aside = SetFileAside(PathOf(which), "damaged");
            TraceMessage(kTraceWebFailure, "Settings - '%s' set aside as '%s'; fresh settings",
                PathOf(which).c_str(), aside.c_str());
            if (aside.empty()) {
                moved = false;
                continue;
            }
            std::lock_guard lock(m_lock);
            StateOf(which) = FileState();
        }
        std::lock_guard lock(m_lock);
        snapshot = MakeSnapshotLocked();
    }
    Notify(snapshot);
    return moved;
}

int SettingsStore::ReadInt(const std::string& key, int def, const std::string& section)
{
    return Current()->Int(key, def, section);
}

std::string SettingsStore::ReadText(
    const std::string& key, const std::string& def, const std::string& section)
{
    return Current()->Text(key, def, section);
}

std::vector<FolderListEntry> SettingsStore::LoadFolderList()
{
    return Current()->Folders();
}

// The file is replaced whole, on the disk before its name moves, and the file it
// replaces (whole, or it would not be the store's) stays beside it as the good copy.
bool SettingsStore::WriteSealed(Which which, const ini::IniDocument& document, bool keepCopy)
{
    const std::string path = PathOf(which);
    if (keepCopy && IdentityOf(path).exists && !KeepCopyOf(path, BackupPathOf(path)))
        TraceMessage(kTraceWebFailure, "Settings - no copy of '%s' kept: %s", path.c_str(),
            std::strerror(errno));
    if (ReplaceFileWhole(path, SealSettingsText(document), 0644, Durability::Synced)) {
        m_lastWriteError = 0;
        return true;
    }
    const int error = errno;
    m_lastWriteError = error;
    TraceMessage(kTraceWebFailure, "Settings - cannot write '%s': %s", path.c_str(),
        error == ENOSPC ? "the disk is full (ENOSPC)" : std::strerror(error));
    errno = error;
    return false;
}

bool SettingsStore::Edit(Which which, const std::function<bool(ini::IniDocument&)>& edit)
{
    if (PathOf(which).empty())
        return false;
    std::shared_ptr<const SettingsSnapshot> snapshot;
    {
        std::lock_guard writing(m_writeLock);
        // A change made on disk since the last read is the base of this one.
        LoadChanged();
        ini::IniDocument document;
        bool keepCopy = false;
        {
            std::lock_guard lock(m_lock);
            const FileState& state = StateOf(which);
            if (state.refused) {
                m_lastWriteError = EACCES;
                return false; // never a fresh file over one the user has not heard about
            }
            if (state.document)
                document = *state.document;
            keepCopy = state.wholeOnDisk;
        }
        const std::string before = document.Text();
        if (!edit(document))
            return false;
        // Nothing changed: the file stays, and so does its good copy.
        if (keepCopy && document.Text() == before)
            return true;
        if (!WriteSealed(which, document, keepCopy))
            return false;
        FileIdentity written = IdentityOf(PathOf(which));
        std::lock_guard lock(m_lock);
        StateOf(which).document = document;
        StateOf(which).identity = written;
        StateOf(which).wholeOnDisk = true;
        snapshot = MakeSnapshotLocked();
    }
    Notify(snapshot);
    return true;
}

bool SettingsStore::WriteInt(const std::string& key, unsigned value, const std::string& section)
{
    return WriteText(key, std::to_string(value), section);
}

bool SettingsStore::WriteText(
    const std::string& key, const std::string& value, const std::string& section)
{
    return Edit(Which::Settings,
        [&](ini::IniDocument& document) { return document.SetValue(section, key, value); });
}

bool SettingsStore::WriteTexts(
    const std::vector<std::pair<std::string, std::string>>& values, const std::string& section)
{
    return Edit(Which::Settings, [&](ini::IniDocument& document) {
        for (const auto& [key, value] : values) {
            if (!document.SetValue(section, key, value))
                return false;
        }
        return true;
    });
}

bool SettingsStore::SaveFolderList(const std::vector<FolderListEntry>& entries)
{
    std::vector<std::pair<std::string, std::string>> keys;
    for (size_t i = 0; i < entries.size(); ++i)
        keys.emplace_back(
            "path" + std::to_string(i), entries[i].displayName + "|" + entries[i].path);
    return Edit(Which::FolderList,
        [&](ini::IniDocument& document) { return document.SetSection(kFolderSection, keys); });
}

int SettingsStore::Subscribe(Listener listener)
{
    std::lock_guard lock(m_lock);
    auto subscription = std::make_shared<Subscription>();
    subscription->number = m_nextSubscription++;
    subscription->listener = std::make_shared<Listener>(std::move(listener));
    m_listeners.push_back(subscription);
    return subscription->number;
}

void SettingsStore::Unsubscribe(int number)
{
    std::unique_lock lock(m_lock);
    auto found = std::find_if(m_listeners.begin(), m_listeners.end(),
        [&](const auto& entry) { return entry->number == number; });
    if (found == m_listeners.end())
        return;
    std::shared_ptr<Subscription> subscription = *found;
    m_listeners.erase(found);
    // A call under way on another thread may still use what the listener's owner is
    // about to destroy: wait for it.
    const std::thread::id self = std::this_thread::get_id();
    m_listenerDone.wait(lock, [&] {
        return std::all_of(subscription->callers.begin(), subscription->callers.end(),
            [&](std::thread::id caller) { return caller == self; });
    });
}

void SettingsStore::Notify(const std::shared_ptr<const SettingsSnapshot>& snapshot)
{
    std::vector<std::shared_ptr<Subscription>> listeners;
    {
        std::lock_guard lock(m_lock);
        for (const std::shared_ptr<Subscription>& entry : m_listeners) {
            entry->callers.push_back(std::this_thread::get_id());
            listeners.push_back(entry);
        }
    }
    for (size_t i = 0; i < listeners.size(); ++i) {
        bool subscribed = false;
        {
            std::lock_guard lock(m_lock);
            subscribed = std::find(m_listeners.begin(), m_listeners.end(), listeners[i])
                != m_listeners.end();
        }
        try {
            if (subscribed)
                (*listeners[i]->listener)(*snapshot);
        } catch (...) {
            // A listener's failure is its own; the others still hear of the change.
        }
        {
            std::lock_guard lock(m_lock);
            std::vector<std::thread::id>& callers = listeners[i]->callers;
            callers.erase(std::find(callers.begin(), callers.end(), std::this_thread::get_id()));
        }
        m_listenerDone.notify_all();
    }
}
