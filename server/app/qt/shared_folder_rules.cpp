#include "shared_folder_rules.h"

#include "config/utf8_text.h"

#include <filesystem>

namespace {

constexpr const char* kForbiddenNameCharacters = "\\/:*?\"<>|";

bool IsExistingFolder(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// "." and ".." would name the services folder itself or its parent.
bool IsDotName(const std::string& name)
{
    return name == "." || name == "..";
}

} // namespace

std::string DefaultShareName(const std::string& path)
{
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back(); // "/media/Kids/" names Kids, not nothing
    std::string last = folder.substr(folder.find_last_of('/') + 1);
    size_t dot = last.find_last_of('.');
    return dot == std::string::npos ? last : last.substr(0, dot);
}

bool IsSafeServicesSubfolder(const std::string& name)
{
    return !name.empty() && !IsDotName(name) && name.find('/') == std::string::npos;
}

FolderCheck CheckSharedFolder(const std::string& name, const std::string& path,
    FolderDialogMode mode, const std::vector<FolderListEntry>& rows)
{
    FolderCheck check;
    check.path = std::string(TrimWhitespace(path));
    if (check.path.empty() || !IsExistingFolder(check.path)) {
        check.errorKey = "IDS_ERROR_WRONG_FOLDERPATH";
        return check;
    }
    check.name = name;
    if (check.name.empty()) {
        check.name = DefaultShareName(check.path);
        check.nameFilled = true;
    }
    check.name = std::string(TrimWhitespace(check.name));
    if (check.name.empty()) {
        check.errorKey = "IDS_ERROR_FAILED_INPUT";
        return check;
    }
    if (check.name.find_first_of(kForbiddenNameCharacters) != std::string::npos
        || IsDotName(check.name)) {
        check.errorKey = "IDS_ERROR_WRONG_CHARACTER";
        return check;
    }
    if (mode == FolderDialogMode::Edit)
        return check;
    for (const FolderListEntry& row : rows) {
        if (row.displayName == check.name) {
            check.errorKey = "IDS_ERROR_DUPLICATE_NAME";
            return check;
        }
        if (row.path == check.path) {
            check.errorKey = "IDS_ERROR_DUPLICATE_FOLDER";
            return check;
        }
    }
    return check;
}
