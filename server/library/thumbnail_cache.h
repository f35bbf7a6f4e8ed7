#pragma once

// The thumbnail pictures in the services folder are a cache kept across runs (like the
// media information), never swept as work files are. It is bounded: once its pictures
// pass the limit, the least recently used ones go until a tenth of the limit is free
// again. A picture served from the cache counts as used; a removed one is simply made
// again when it is asked for. Setting "ThumbnailCacheMB" (default 512).

#include <atomic>
#include <cstdint>
#include <string>

inline constexpr const char* kKeyThumbnailCacheMB = "ThumbnailCacheMB";
inline constexpr int kDefaultThumbnailCacheMB = 512;

// True for the file names of thumbnail pictures ("a.avi_s.jpg", "a.avi_l.jpg").
bool IsThumbnailPicture(const std::string& name);

// Removes the least recently used pictures under servicesFolder while they hold more
// than limitBytes, down to nine tenths of it; other files are never touched. Returns
// the bytes the pictures hold afterwards. A stop ends it early.
uint64_t TrimThumbnailCache(
    const std::string& servicesFolder, uint64_t limitBytes, const std::atomic<bool>& stopping);

// Marks a picture as used now (its modification time, which nothing else changes).
void MarkThumbnailUsed(const std::string& file);
