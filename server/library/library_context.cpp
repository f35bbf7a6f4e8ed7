#include "library/library_context.h"

#include "config/settings_store.h"
#include "library/folder_listing.h"
#include "library/media_properties_cache.h"
#include "library/media_read_query.h"
#include "library/thumbnail_cache.h"

namespace {

// A database file of the data folder; none without a data folder.
std::string DataFileOf(const ServerPlaces& places, const char* name)
{
    return places.dataFolder.empty() ? std::string() : places.dataFolder + "/" + name;
}

} // namespace

LibraryContext::LibraryContext(ServerParts parts)
    : HttpContext(std::move(parts))
    , m_listFiles([this] { return Time().Now(); })
    , m_media(Places().programFolder + "/" + mediainfo::kMediaReaderProgram,
          DataFileOf(Places(), kMediaPropertiesDatabaseName))
    , m_keyframes({ Spawner(), Places().programFolder + "/vembacast-engine", Places().tempFolder },
          [this] { return m_media.Cache(); })
    , m_prefetch(m_media)
    , m_positions(DataFileOf(Places(), kPlayPositionsDatabaseName))
    , m_index(DataFileOf(Places(), kLibraryIndexDatabaseName), m_sharedFolders, Time())
    , m_folderList(Settings(), m_sharedFolders)
    , m_thumbnails(
          Places().ServicesFolder(), EngineFrameSource(*this),
          [this] { return CollectShareThumbnailJobs(*this); },
          [this] {
              int megabytes = Settings().ReadInt(kKeyThumbnailCacheMB, kDefaultThumbnailCacheMB);
              return uint64_t(megabytes > 0 ? megabytes : kDefaultThumbnailCacheMB) << 20;
          })
{
    m_sharedFolders.SetListener([this] { m_index.SharesChanged(); });
}

LibraryContext::~LibraryContext()
{
    StopNotices();
    m_index.Stop();
    // A media read under way (the thumbnail kick-off's, say) would hold the shutdown
    // until its deadline: it ends now.
    m_media.Shutdown();
    m_keyframes.Shutdown();
    m_prefetch.Stop();
    m_thumbnails.Shutdown();
}
