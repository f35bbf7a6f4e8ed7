#pragma once

// The work folders of live sessions (one per client id in the services folder) that
// have been used since the server started. Streaming remembers each folder it writes
// into; "/playEnd" clears and forgets one; the server stop clears all that are left,
// and a successful start forgets them all. Each server owns one book of them, over
// its own services folder. Safe from any thread: m_lock guards the list only, never
// a file operation.

#include <mutex>
#include <string>
#include <vector>

// True for the name of a session work folder: a client id, 32 upper-case hexadecimal
// digits.
bool IsSessionWorkFolderName(const std::string& name);

class WorkFolderBook {
public:
    explicit WorkFolderBook(std::string servicesFolder);

    // Remembers folder once (names compare exactly, as the file system does).
    void RememberWorkFolder(const std::string& folder);
    void ForgetWorkFolder(const std::string& folder);
    std::vector<std::string> RememberedWorkFolders() const;
    void ForgetAllWorkFolders();
    // Deletes the files of folder except playlists (".m3u8"; subfolders are skipped),
    // then the folder with whatever is left. Only folders inside the services folder
    // are touched. There is no pause: an engine that still holds a segment open keeps
    // writing to a file that no longer has a name, and nothing waits for it.
    void ClearWorkFolder(const std::string& folder) const;
    // Deletes every session work folder in the services folder, remembered or not (the
    // left-overs of a run that was killed), and forgets them all (server start and
    // stop).
    void SweepSessionWorkFolders();
    // Clears and forgets every remembered folder (server stop).
    void ClearRememberedWorkFolders();

    // The session work folder of a client: the services folder followed by the id.
    std::string SessionWorkFolder(const std::string& clientId) const;

private:
    bool InsideServicesFolder(const std::string& folder) const;

    const std::string m_servicesFolder;
    mutable std::mutex m_lock;
    std::vector<std::string> m_folders; // guarded by m_lock
};
