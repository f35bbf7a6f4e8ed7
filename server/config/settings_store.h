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
// Every file is read checked (settings_file.h): one that does not read back whole is
// never taken as fewer settings. The last good copy takes its place (the one in
// memory, else the copy every write keeps beside the file as "NAME.bak"), and the
// damaged file is set aside under a dated name. With no good copy the store refuses:
// it reads that file as no settings and writes nothing to it, until the program
// around it, having told the user, starts fresh (StartFresh). Whoever starts the
// server asks Refusal() and TakeProblems() first.
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

#include <atomic>
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

// A settings file that did not read back whole, and what was done about it.
struct SettingsFileProblem {
    std::string file; // the settings file or the folder list file
    std::string problem; // what is wrong with it
    std::string setAsideAs; // where the damaged file went; empty: it is where it was
    // The last good copy is used (and, when the file was set aside, written in its
    // place); false: there was none, and the store refuses the file.
    bool goodCopyUsed = false;
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

    // A damaged file with no good copy: while there is one, that file reads as no
    // settings and every write to it fails. Loads the files first when needed.
    std::optional<SettingsFileProblem> Refusal();
    // Sets the refused files aside under dated names; the store then starts from no
    // settings, as on a first start. False when a file could not be moved.
    bool StartFresh();
    // The damaged files met since the last call, refused ones included.
    std::vector<SettingsFileProblem> TakeProblems();
    // errno of the last write that failed (ENOSPC: the disk is full); 0 after a write
    // that succeeded.
    int LastWriteError() const { return m_lastWriteError; }

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
    // What the store holds of one file.
    struct FileState {
        std::optional<ini::IniDocument> document;
        FileIdentity identity; // of the file the document was read from (or written to)
        // The file on disk holds the document: the next write keeps it as the good copy.
        bool wholeOnDisk = false;
        std::optional<SettingsFileProblem> refused;
    };
    enum class Which { Settings, FolderList };

    static FileIdentity IdentityOf(const std::string& path);
    std::string PathOf(Which which) const;
    FileState& StateOf(Which which) { return which == Which::Settings ? m_settings : m_folders; }
    // Reads one file checked, replacing it by its last good copy when it is damaged.
    // Under m_writeLock.
    FileState LoadChecked(Which which, const std::optional<ini::IniDocument>& lastGood);
    // Brings the files that changed on disk into the state; true when one did.
    // Under m_writeLock.
    bool LoadChanged();
    bool Changed();
    void Reload();
    // Applies edit to one file's document and writes it; updates the snapshot.
    bool Edit(Which which, const std::function<bool(ini::IniDocument&)>& edit);
    // Writes document sealed, keeping the file it replaces as the good copy when that
    // file is whole.
    bool WriteSealed(Which which, const ini::IniDocument& document, bool keepCopy);
    void Notify(const std::shared_ptr<const SettingsSnapshot>& snapshot);
    std::shared_ptr<const SettingsSnapshot> MakeSnapshotLocked();

    const std::string m_dataFolder;
    std::mutex m_writeLock; // orders writers across their file work (see above)
    std::atomic<int> m_lastWriteError { 0 };

    mutable std::mutex m_lock;
    // --- guarded by m_lock
    std::shared_ptr<const SettingsSnapshot> m_snapshot;
    FileState m_settings;
    FileState m_folders;
    std::vector<SettingsFileProblem> m_problems; // not yet taken
    struct Subscription {
        int number = 0;
        std::shared_ptr<Listener> listener;
        std::vector<std::thread::id> callers; // the threads of the calls under way
    };
    std::vector<std::shared_ptr<Subscription>> m_listeners;
    std::condition_variable m_listenerDone; // with m_lock: a call of a listener ended
    int m_nextSubscription = 1;
};
