#pragma once

// The work folders of live sessions (one per client id in the services folder) that
// have been used since the server started. Streaming remembers each folder it writes
// into; "/playEnd" clears and forgets one; the server stop clears all that are left,
// and a successful start forgets them all. Safe from any thread.

#include <string>
#include <vector>

// Remembers folder once (names compare exactly, as the file system does).
void RememberWorkFolder(const std::string& folder);
void ForgetWorkFolder(const std::string& folder);
std::vector<std::string> RememberedWorkFolders();
void ForgetAllWorkFolders();

// Deletes the files of folder except playlists (".m3u8"; subfolders are skipped),
// pauses 100 ms, deletes the folder with whatever is left, pauses 100 ms. Only
// folders inside the services folder are touched.
void ClearWorkFolder(const std::string& folder);

// Clears and forgets every remembered folder (server stop).
void ClearRememberedWorkFolders();
