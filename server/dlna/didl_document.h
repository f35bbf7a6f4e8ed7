#pragma once

// The DIDL-Lite of a browse answer, written with gupnp-av's writer (which escapes
// every text and attribute): containers with their child counts, and videos as
// object.item.videoItem with title, date, the thumbnail as upnp:albumArtURI
// (JPEG_TN), and these resources:
//   - the file as it is (http-get with a DLNA profile where one fits, byte ranges),
//     with size, duration and resolution;
//   - the transcoded MPEG-TS stream in 1080p and 720p (H.264/AAC, time seek);
//   - the SAMI subtitles beside it as SRT (also named in sec:CaptionInfoEx for the
//     screens that look there).
// A filter other than "*" keeps only the properties it names.

#include "dlna/media_catalog.h"

#include <string>
#include <vector>

std::string WriteDidlDocument(const std::vector<CatalogObject>& objects,
    const std::string& mediaBase, const std::string& filter);
