#include "folders.h"

#include <system_error>

namespace pagiro {

bool folder_exists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

void create_folder(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return;
    // "nd/" names the folder nd: its parent is the folder holding nd, not nd itself.
    fs::path path = folder;
    while (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
    if (fs::exists(path, ec)) throw FolderError(FolderError::Reason::NotAFolder, "a file of that name exists");
    fs::path parent = path.parent_path();
    if (!parent.empty() && !fs::is_directory(parent, ec))
        throw FolderError(FolderError::Reason::ParentMissing, "its parent folder does not exist");
    if (!fs::create_directory(path, ec) && ec) {
        if (ec == std::errc::permission_denied || ec == std::errc::read_only_file_system)
            throw FolderError(FolderError::Reason::Denied, ec.message());
        throw FolderError(FolderError::Reason::Other, ec.message());
    }
}

}  // namespace pagiro
