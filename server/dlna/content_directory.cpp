#include "dlna/content_directory.h"

#include "dlna/didl_document.h"
#include "dlna/media_catalog.h"

namespace {

BrowseAnswer Failure(int error, const char* text)
{
    BrowseAnswer answer;
    answer.error = error;
    answer.errorText = text;
    return answer;
}

} // namespace

BrowseAnswer Browse(const MediaCatalog& catalog, const BrowseRequest& request)
{
    const std::optional<std::vector<SortKey>> keys = ParseSortCriteria(request.sortCriteria);
    if (!keys)
        return Failure(kUpnpInvalidSort, "Unsupported or invalid sort criteria");

    std::vector<CatalogObject> objects;
    BrowseAnswer answer;
    if (request.browseFlag == "BrowseMetadata") {
        std::optional<CatalogObject> object = catalog.Resolve(request.objectId);
        if (!object)
            return Failure(kUpnpNoSuchObject, "No such object");
        if (request.startingIndex != 0)
            return Failure(kUpnpInvalidArgs, "Invalid Args");
        if (object->kind == ObjectKind::Root)
            object->title = request.rootTitle;
        objects.push_back(std::move(*object));
        answer.totalMatches = 1;
    } else if (request.browseFlag == "BrowseDirectChildren") {
        switch (catalog.Children(request.objectId, *keys, request.startingIndex,
            request.requestedCount, objects, answer.totalMatches)) {
        case CatalogStatus::Found:
            break;
        case CatalogStatus::NoSuchObject:
            return Failure(kUpnpNoSuchObject, "No such object");
        case CatalogStatus::NotAContainer:
            return Failure(kUpnpCannotProcess, "Cannot process the request: not a container");
        }
    } else {
        return Failure(kUpnpInvalidArgs, "Invalid Args");
    }
    for (CatalogObject& object : objects)
        catalog.Describe(object);
    answer.result = WriteDidlDocument(objects, request.mediaBase, request.filter);
    answer.numberReturned = static_cast<uint32_t>(objects.size());
    return answer;
}
