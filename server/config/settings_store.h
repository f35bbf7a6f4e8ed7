#pragma once

// The settings store of one server: "VembaCast.ini" and "VembaCastFolder.ini" of its
// data folder, held in memory as one snapshot.
//
// Readers take the current snapshot and read it without touching the disk; a file
// changed on disk (by hand, or by another program) is noticed at the next read by
// its identity (inode, size, modification time) and loaded again. Every write goes
// through the store: it changes the file (a temporary beside it, then rename) and
// the snapshot together, and the listeners hear of every change, whether written
// here or found on disk.
//
// Threads: any thread reads and writes. m_lock guards the snapshot and the file
// identities only, never a file operation. m_writeLock orders the writers across their
// read-modify-write of a file, so two writers never undo each other's keys; it is the
// one lock held across file work, and nothing waits for anything else under it.
// Listeners run on the thread that caused the change, with no lock held; m_listenerDone
// lets an unsubscriber wait until no call of its listener is under way, so a
// listener's owner may go once Unsubscribe returns.

#include "config/settings.h"
#include "platform/ini_file.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The settings as they were at one moment. Reads follow the classic rules: an int
// reads 0 when the settings file does not exist, whatever the default.
class SettingsSnapshot {
public:
    SettingsSnapshot() = default;
    SettingsSnapshot(
        std::optional<ini::IniDocument> settings, std::optional<ini::IniDocument> folderList);

    // 0 when the settings file does not exist (whatever the default); otherwise the
    // leading decimal digits of the value, or def when the key is missing.
    int Int(const std::string& key, int def, const std::string& section = kSettingSection) const;
    // Empty text when the file does not exist; def when the key is missing; at most
    // kMaxSettingText characters, invalid UTF-8 replaced.
    std::string Text(const std::string& key, const std::string& def = "",
        const std::string& section = kSettingSection) const;
    // The raw value, uncut; nullopt when the file or the key is missing.
    std::optional<std::string> Value(const std::string& section, const std::string& key) const;
    bool SettingsFileExists() const { return m_settings.has_value(); }

    // Keys "path0", "path1", ... of the folder list up to the first missing or empty
    // one; each value splits at its first '|'. Paths are not cut.
    std::vector<FolderListEntry> Folders() const;

private:
    std::optional<ini::IniDocument> m_settings;
    std::optional<ini::IniDocument> m_folderList;
};

class SettingsStore {
public:
    using Listener = std::function<void(const SettingsSnapshot&)>;

    // The files of dataFolder; the folder itself is created by whoever starts the
    // server. An empty folder gives a store that reads nothing and writes nothing.
    explicit SettingsStore(std::string dataFolder);
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const std::string& DataFolder() const { return m_dataFolder; }
    std::string SettingsFilePath() const;
    std::string FolderListFilePath() const;

    // The current settings, loaded again first when a file changed on disk.
    std::shared_ptr<const SettingsSnapshot> Current();

    // Shorthands for one read of Current().
    int ReadInt(const std::string& key, int def, const std::string& section = kSettingSection);
    std::string ReadText(const std::string& key, const std::string& def = "",
        const std::string& section = kSettingSection);
    std::vector<FolderListEntry> LoadFolderList();

    // Written as unsigned decimal; the file is created when missing.
    bool WriteInt(
        const std::string& key, unsigned value, const std::string& section = kSettingSection);
    bool WriteText(const std::string& key, const std::string& value,
        const std::string& section = kSettingSection);
    // Several keys of the settings file in one write.
    bool WriteTexts(const std::vector<std::pair<std::string, std::string>>& values,
        const std::string& section = kSettingSection);
    // Writes exactly these entries as path0..path(n-1); keys of removed entries vanish.
    bool SaveFolderList(const std::vector<FolderListEntry>& entries);

    // Called after every change with the new settings; the number unsubscribes.
    int Subscribe(Listener listener);
    // Once it returns, the listener is not running and is never called again (from
    // inside the listener itself, it does not wait for its own call).
    void Unsubscribe(int subscription);

private:
    struct FileIdentity {
        bool exists = false;
        unsigned long long inode = 0;
        long long size = 0;
        long long modifiedNs = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    struct Loaded {
        std::optional<ini::IniDocument> document;
        FileIdentity identity;
    };
    static FileIdentity IdentityOf(const std::string& path);
    static Loaded Load(const std::string& path);
    bool Changed(const std::string& settingsPath, const std::string& folderPath);
    void Reload();
    // Applies edit to one file's document and writes it; updates the snapshot.
    bool Edit(bool folderList, const std::function<bool(ini::IniDocument&)>& edit);
    void Notify(const std::shared_ptr<const SettingsSnapshot>& snapshot);

    const std::string m_dataFolder;
    std::mutex m_writeLock; // orders writers across their file work (see above)

    mutable std::mutex m_lock;
    // --- guarded by m_lock
    std::shared_ptr<const SettingsSnapshot> m_snapshot;
    std::optional<ini::IniDocument> m_settingsDocument;
    std::optional<ini::IniDocument> m_folderDocument;
    FileIdentity m_settingsIdentity;
    FileIdentity m_folderIdentity;
    struct Subscription {
        int number = 0;
        std::shared_ptr<Listener> listener;
        std::vector<std::thread::id> callers; // the threads of the calls under way
    };
    std::vector<std::shared_ptr<Subscription>> m_listeners;
    std::condition_variable m_listenerDone; // with m_lock: a call of a listener ended
    int m_nextSubscription = 1;
};
