#pragma once

// The server as its media library sees it: the layer of the server object that owns
// the shared folders, the media reads and their cache, the key frame index passes,
// the thumbnails, the direct-play table and the book of one-time list files (see
// enginectl/engine_context.h for how the layers of the server object stack).

#include "http/http_context.h"
#include "library/direct_play_table.h"
#include "library/keyframe_indexer.h"
#include "library/list_file_book.h"
#include "library/media_properties.h"
#include "library/shared_folders.h"
#include "library/thumbnail.h"

class LibraryContext : public HttpContext {
public:
    explicit LibraryContext(ServerParts parts);
    ~LibraryContext() override;

    SharedFolderList& SharedFolders() { return m_sharedFolders; }
    const SharedFolderList& SharedFolders() const { return m_sharedFolders; }
    DirectPlayTable& DirectPlay() { return m_directPlay; }
    ListFileBook& ListFiles() { return m_listFiles; }
    MediaPropertiesReader& Media() { return m_media; }
    KeyframeIndexer& Keyframes() { return m_keyframes; }
    ThumbnailService& Thumbnails() { return m_thumbnails; }

private:
    SharedFolderList m_sharedFolders;
    DirectPlayTable m_directPlay;
    ListFileBook m_listFiles;
    MediaPropertiesReader m_media;
    KeyframeIndexer m_keyframes; // keeps its results in m_media's cache
    ThumbnailService m_thumbnails; // last: its threads end before what they read goes
};
