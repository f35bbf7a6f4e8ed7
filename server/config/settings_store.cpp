#include "config/settings_store.h"

#include "config/utf8_text.h"
#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The document and the identity of exactly the file that was read.
SettingsStore::Loaded SettingsStore::Load(const std::string& path)
{
    Loaded loaded;
    if (path.empty())
        return loaded;
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info { };
    if (!fd || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return loaded;
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
    loaded.document = ini::IniDocument::Parse(data);
    loaded.identity = { true, static_cast<unsigned long long>(info.st_ino),
        static_cast<long long>(info.st_size),
        static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec };
    return loaded;
}

bool SettingsStore::Changed(const std::string& settingsPath, const std::string& folderPath)
{
    FileIdentity settings = IdentityOf(settingsPath);
    FileIdentity folders = IdentityOf(folderPath);
    std::lock_guard lock(m_lock);
    return !m_snapshot || settings != m_settingsIdentity || folders != m_folderIdentity;
}

void SettingsStore::Reload()
{
    std::shared_ptr<const SettingsSnapshot> snapshot;
    {
        std::lock_guard writing(m_writeLock);
        // Another reader or a writer may have brought the snapshot up to date meanwhile.
        if (!Changed(SettingsFilePath(), FolderListFilePath()))
            return;
        Loaded settings = Load(SettingsFilePath());
        Loaded folders = Load(FolderListFilePath());
        snapshot = std::make_shared<const SettingsSnapshot>(settings.document, folders.document);
        std::lock_guard lock(m_lock);
        m_settingsDocument = std::move(settings.document);
        m_folderDocument = std::move(folders.document);
        m_settingsIdentity = settings.identity;
        m_folderIdentity = folders.identity;
        m_snapshot = snapshot;
    }
    Notify(snapshot);
}

std::shared_ptr<const SettingsSnapshot> SettingsStore::Current()
{
    if (Changed(SettingsFilePath(), FolderListFilePath()))
        Reload();
    std::lock_guard lock(m_lock);
    return m_snapshot ? m_snapshot : std::make_shared<const SettingsSnapshot>();
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

bool SettingsStore::Edit(bool folderList, const std::function<bool(ini::IniDocument&)>& edit)
{
    const std::string path = folderList ? FolderListFilePath() : SettingsFilePath();
    if (path.empty())
        return false;
    std::shared_ptr<const SettingsSnapshot> snapshot;
    {
        std::lock_guard writing(m_writeLock);
        // A change made on disk since the last read is the base of this one.
        if (Changed(SettingsFilePath(), FolderListFilePath())) {
            Loaded settings = Load(SettingsFilePath());
            Loaded folders = Load(FolderListFilePath());
            std::lock_guard lock(m_lock);
            m_settingsDocument = std::move(settings.document);
            m_folderDocument = std::move(folders.document);
            m_settingsIdentity = settings.identity;
            m_folderIdentity = folders.identity;
        }
        ini::IniDocument document;
        {
            std::lock_guard lock(m_lock);
            const std::optional<ini::IniDocument>& current
                = folderList ? m_folderDocument : m_settingsDocument;
            if (current)
                document = *current;
        }
        if (!edit(document) || !ReplaceFileWhole(path, document.Text()))
            return false;
        FileIdentity written = IdentityOf(path);
        std::lock_guard lock(m_lock);
        (folderList ? m_folderDocument : m_settingsDocument) = document;
        (folderList ? m_folderIdentity : m_settingsIdentity) = written;
        snapshot = std::make_shared<const SettingsSnapshot>(m_settingsDocument, m_folderDocument);
        m_snapshot = snapshot;
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
    return Edit(
        false, [&](ini::IniDocument& document) { return document.SetValue(section, key, value); });
}

bool SettingsStore::WriteTexts(
    const std::vector<std::pair<std::string, std::string>>& values, const std::string& section)
{
    return Edit(false, [&](ini::IniDocument& document) {
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
    return Edit(true,
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
