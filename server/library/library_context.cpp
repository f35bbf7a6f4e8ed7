#include "library/library_context.h"

#include "config/settings_store.h"
#include "library/folder_listing.h"
#include "library/media_properties_cache.h"
#include "library/media_read_query.h"
#include "library/thumbnail_cache.h"

namespace {

std::string CacheFileOf(const ServerPlaces& places)
{
    return places.dataFolder.empty() ? std::string()
                                     : places.dataFolder + "/" + kMediaPropertiesDatabaseName;
}

} // namespace

LibraryContext::LibraryContext(ServerParts parts)
    : HttpContext(std::move(parts))
    , m_listFiles([this] { return Time().Now(); })
    , m_media(Places().programFolder + "/" + mediainfo::kMediaReaderProgram, CacheFileOf(Places()))
    , m_thumbnails(
          Places().ServicesFolder(), EngineFrameSource(*this),
          [this] { return CollectShareThumbnailJobs(*this); },
          [this] {
              int megabytes = Settings().ReadInt(kKeyThumbnailCacheMB, kDefaultThumbnailCacheMB);
              return uint64_t(megabytes > 0 ? megabytes : kDefaultThumbnailCacheMB) << 20;
          })
{
}

LibraryContext::~LibraryContext()
{
    StopNotices();
    // A media read under way (the thumbnail kick-off's, say) would hold the shutdown
    // until its deadline: it ends now.
    m_media.Shutdown();
    m_thumbnails.Shutdown();
}
