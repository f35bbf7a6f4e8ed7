#pragma once

// ContentDirectory object ids. The root is "0"; every other object is named by its
// path relative to the shares ("Movies/Kids/a.avi"), encoded as "p" and base64url
// without padding. So an id stays the same across restarts and as long as the file
// keeps its name, needs no table, and never shows a disk path; the path it decodes
// to goes through the same mapping and confinement as every request path.

#include <optional>
#include <string>

inline constexpr const char* kRootObjectId = "0";
inline constexpr const char* kRootParentId = "-1";

// The id of the object at relativePath; the root for an empty path.
std::string MakeObjectId(const std::string& relativePath);

// The relative path an id names ("" for the root), or nothing for an id that is not
// of this server's form.
std::optional<std::string> ObjectIdPath(const std::string& id);

// The id of the parent of the object at relativePath (the root for a share).
std::string ParentObjectId(const std::string& relativePath);
