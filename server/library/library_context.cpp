#include "library/library_context.h"

#include "library/folder_listing.h"
#include "library/media_properties_cache.h"
#include "library/media_read_query.h"

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
    , m_thumbnails(Places().ServicesFolder(), EngineFrameSource(*this),
          [this] { return CollectShareThumbnailJobs(*this); })
{
}

LibraryContext::~LibraryContext()
{
    StopNotices();
    m_thumbnails.Shutdown();
}
