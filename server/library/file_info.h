#pragma once

// "/getFileInfo": the details of one file for the client (name, play time, size,
// resolution, the "encoding" and "subtitle" flags, and the URL under which a
// directly playable file can be fetched as it is).

#include <string>

class HttpRequest;
class LibraryContext;

// Writes the whole answer: code -11 when the path is missing, else the file's
// details, or -12 when the path names no share (or is refused).
void ResponseGetFileInfo(LibraryContext& server, int code, HttpRequest& request,
    const std::string& path, const std::string& id);

// The answer document for the file at filePath (a video: every file key; any other
// file: result and message only). requestPath is the client's path, decoded.
std::string QZ_MakeFileInfo(LibraryContext& server, const HttpRequest& request,
    const std::string& id, const std::string& filePath, const std::string& requestPath);
