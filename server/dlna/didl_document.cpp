#include "dlna/didl_document.h"

#include "dlna/media_links.h"
#include "dlna/media_profiles.h"

#include <ctime>
#include <libgupnp-av/gupnp-av.h>
#include <memory>

namespace {

struct GObjectUnref {
    void operator()(void* object) const { g_object_unref(object); }
};
template <typename T> using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(char* text) const { g_free(text); }
};

constexpr const char* kSecNamespace = "http://www.sec.co.kr/";

std::string DidlDate(int64_t modified)
{
    const time_t when = static_cast<time_t>(modified);
    tm parts {};
    gmtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    return text;
}

void AddResource(GUPnPDIDLLiteObject* object, const std::string& uri,
    const std::string& protocolInfo, int64_t size, int64_t durationMs, int width, int height)
{
    GPtr<GUPnPDIDLLiteResource> resource(gupnp_didl_lite_object_add_resource(object));
    GPtr<GUPnPProtocolInfo> info(
        gupnp_protocol_info_new_from_string(protocolInfo.c_str(), nullptr));
    gupnp_didl_lite_resource_set_uri(resource.get(), uri.c_str());
    if (info)
        gupnp_didl_lite_resource_set_protocol_info(resource.get(), info.get());
    if (size > 0)
        gupnp_didl_lite_resource_set_size64(resource.get(), size);
    if (durationMs > 0)
        gupnp_didl_lite_resource_set_duration(resource.get(), durationMs / 1000);
    if (width > 0 && height > 0) {
        gupnp_didl_lite_resource_set_width(resource.get(), width);
        gupnp_didl_lite_resource_set_height(resource.get(), height);
    }
}

// gupnp-av writes whole seconds; screens show the milliseconds of the file.
void SetExactDuration(GUPnPDIDLLiteObject* object, int64_t durationMs)
{
    xmlNode* node = gupnp_didl_lite_object_get_xml_node(object);
    const std::string text = FormatDidlDuration(durationMs);
    for (xmlNode* child = node->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrcmp(child->name, BAD_CAST "res") == 0
            && xmlHasProp(child, BAD_CAST "duration"))
            xmlSetProp(child, BAD_CAST "duration", BAD_CAST text.c_str());
    }
}

void MarkAlbumArtProfile(GUPnPDIDLLiteObject* object)
{
    xmlNode* node = gupnp_didl_lite_object_get_xml_node(object);
    xmlNs* dlna = gupnp_didl_lite_object_get_dlna_namespace(object);
    for (xmlNode* child = node->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrcmp(child->name, BAD_CAST "albumArtURI") == 0)
            xmlSetNsProp(child, dlna, BAD_CAST "profileID", BAD_CAST "JPEG_TN");
    }
}

void AddCaptionInfo(GUPnPDIDLLiteObject* object, const std::string& uri)
{
    xmlNode* node = gupnp_didl_lite_object_get_xml_node(object);
    xmlNs* sec
        = xmlSearchNsByHref(node->doc, xmlDocGetRootElement(node->doc), BAD_CAST kSecNamespace);
    if (!sec)
        sec = xmlNewNs(xmlDocGetRootElement(node->doc), BAD_CAST kSecNamespace, BAD_CAST "sec");
    xmlNode* caption = xmlNewTextChild(node, sec, BAD_CAST "CaptionInfoEx", BAD_CAST uri.c_str());
    xmlSetNsProp(caption, sec, BAD_CAST "type", BAD_CAST "srt");
}

void WriteContainer(GUPnPDIDLLiteWriter* writer, const CatalogObject& object)
{
    GPtr<GUPnPDIDLLiteContainer> container(gupnp_didl_lite_writer_add_container(writer));
    auto* base = GUPNP_DIDL_LITE_OBJECT(container.get());
    gupnp_didl_lite_object_set_id(base, object.id.c_str());
    gupnp_didl_lite_object_set_parent_id(base, object.parentId.c_str());
    gupnp_didl_lite_object_set_restricted(base, TRUE);
    gupnp_didl_lite_object_set_title(base, object.title.c_str());
    gupnp_didl_lite_object_set_upnp_class(base, "object.container.storageFolder");
    gupnp_didl_lite_container_set_child_count(container.get(), object.childCount);
    gupnp_didl_lite_container_set_searchable(container.get(), FALSE);
    if (object.kind != ObjectKind::Root)
        gupnp_didl_lite_object_set_date(base, DidlDate(object.modified).c_str());
}

void WriteVideo(
    GUPnPDIDLLiteWriter* writer, const CatalogObject& object, const std::string& mediaBase)
{
    GPtr<GUPnPDIDLLiteItem> item(gupnp_didl_lite_writer_add_item(writer));
    auto* base = GUPNP_DIDL_LITE_OBJECT(item.get());
    gupnp_didl_lite_object_set_id(base, object.id.c_str());
    gupnp_didl_lite_object_set_parent_id(base, object.parentId.c_str());
    gupnp_didl_lite_object_set_restricted(base, TRUE);
    gupnp_didl_lite_object_set_title(base, object.title.c_str());
    gupnp_didl_lite_object_set_upnp_class(base, "object.item.videoItem");
    gupnp_didl_lite_object_set_date(base, DidlDate(object.modified).c_str());

    const MediaProperties& properties = object.properties;
    const std::string fileName = object.relativePath.substr(object.relativePath.rfind('/') + 1);
    const DirectProfile profile = DirectProfileOf(fileName, properties);
    AddResource(base, DirectMediaUrl(mediaBase, object.id, fileName), DirectProtocolInfo(profile),
        properties.fileSize, properties.durationMs, properties.width, properties.height);
    if (object.propertiesRead && properties.width > 0 && properties.height > 0) {
        // The screen picks among the resources; the stream is there for what it may
        // not play.
        for (int height : { 1080, 720 }) {
            const StreamBox size = FitIntoStreamBox(height, properties.width, properties.height);
            AddResource(base, StreamUrl(mediaBase, object.id, height), StreamProtocolInfo(), 0,
                properties.durationMs, size.width, size.height);
        }
        gupnp_didl_lite_object_set_album_art(base, ThumbnailUrl(mediaBase, object.id).c_str());
        MarkAlbumArtProfile(base);
    }
    if (object.hasSubtitle) {
        const std::string srt = SubtitleUrl(mediaBase, object.id, "srt");
        AddResource(base, srt, "http-get:*:text/srt:*", 0, 0, 0, 0);
        AddCaptionInfo(base, srt);
    }
    SetExactDuration(base, properties.durationMs);
}

} // namespace

std::string WriteDidlDocument(const std::vector<CatalogObject>& objects,
    const std::string& mediaBase, const std::string& filter)
{
    GPtr<GUPnPDIDLLiteWriter> writer(gupnp_didl_lite_writer_new(nullptr));
    for (const CatalogObject& object : objects) {
        if (object.kind == ObjectKind::Video)
            WriteVideo(writer.get(), object, mediaBase);
        else
            WriteContainer(writer.get(), object);
    }
    if (!filter.empty() && filter != "*")
        gupnp_didl_lite_writer_filter(writer.get(), filter.c_str());
    std::unique_ptr<char, GFree> text(gupnp_didl_lite_writer_get_string(writer.get()));
    return text ? std::string(text.get()) : std::string();
}
