#pragma once

// From a path in a request to a file on disk. A client names every file and folder
// by a path whose first component is a share name ("/Movies/Kids/a.avi"); this unit
// turns such a path into the disk path below the share's folder. It is the one
// place every handler goes through, so it is also where hostile paths stop: a ".."
// component, a NUL byte or text that is not UTF-8 is refused, and nothing is ever
// looked up outside a share.

#include <string>

class SharedFolderList;

// The second percent-decoding of a path value. A value made only of letters,
// digits, '%', '/' and '.' was percent-encoded twice by the client and is decoded
// once more; any other value (blanks, hyphens, brackets, invalid UTF-8) is taken
// literally. A '%' that two hexadecimal digits do not follow stays as it is, so a
// name such as "%n%s%x.mp4" can be reached. The result may hold any bytes.
std::string DecodePathValue(const std::string& text);

enum class RequestPathKind {
    File, // "/Share/rest": the share's folder, '/', and the rest
    Folder, // as File, and a share name alone names the share's folder
};

enum class RequestPathStatus {
    Mapped,
    UnknownShare, // the first component names no share
    Refused, // a ".." component, a NUL byte or invalid UTF-8
};

struct RequestPathMapping {
    RequestPathStatus status = RequestPathStatus::Refused;
    std::string requestPath; // the value after DecodePathValue
    std::string shareName;
    std::string diskPath; // set when Mapped; a Folder path ends with '/'
};

// Maps a path value as the HTTP front hands it over (DecodePathValue is applied
// here, so callers must not apply it again). One leading '/' is optional.
RequestPathMapping MapRequestPath(
    const SharedFolderList& shares, const std::string& value, RequestPathKind kind);

// The same for a path that has been through DecodePathValue already (a session's
// file path, for example).
RequestPathMapping MapDecodedRequestPath(
    const SharedFolderList& shares, const std::string& decodedPath, RequestPathKind kind);

// folder + '/' + rest without doubling the folder's trailing separator.
std::string JoinSharePath(const std::string& folder, const std::string& rest);
