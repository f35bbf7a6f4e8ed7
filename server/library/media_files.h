#pragma once

// Per-file rules that listings and file information share: which files are videos,
// how many entries a folder listing holds, the "subtitle" and "encoding" flags that
// a file's name and neighbours give, and the size text.

#include <cstdint>
#include <string>

inline constexpr const char* kVideoExtensionList
    = "avi,mp4,ts,tp,3gp,skm,k3g,wmv,divx,mkv,m4v,mpg,mpeg,asf,3g2,flv,wm,kgp,mov,vob";

inline constexpr int kMediaFileVideo = 0;
inline constexpr int kMediaFileOther = 4;

// kMediaFileVideo when the extension of the last path component (lower-cased,
// trimmed) occurs anywhere in kVideoExtensionList, else kMediaFileOther. The search
// is over the whole text, so fragments such as "mp" or "peg" count as videos.
int ClassifyMediaFile(const std::string& fileName);

// Subfolders (hidden ones too) and video files of the folder; 0 when it cannot be read.
int CountFolderEntries(const std::string& folder);

// subtitle: 1 when "<base>.smi" lies beside the file. encoding: 0 needs transcoding,
// 1 an .mp4/.m4v that may play directly, 2 a file this server converted
// ("-vembacast.m4v"). The media check of the caller may still lower encoding to 0.
void GetSubtitleAndEncoding(const std::string& filePath, int& subtitle, int& encoding);

// "500 Bytes", "1 KB", "3072 MB": bytes, then KB and MB by integer division.
std::string FormatSizeText(int64_t size);
