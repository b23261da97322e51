#pragma once
// The two folder operations a run needs: does a folder exist, and create one
// folder level (the parent must exist already).
#include <filesystem>
#include <stdexcept>
#include <string>

namespace pagiro {

bool folder_exists(const std::filesystem::path& path);

// Creates the folder when it does not exist. Throws FolderError with a plain
// reason when it cannot (parent missing, a file of that name, no permission).
// A trailing separator ("out/") names the same folder.
void create_folder(const std::filesystem::path& path);

struct FolderError : std::runtime_error {
    enum class Reason { ParentMissing, NotAFolder, Denied, Other };
    FolderError(Reason r, const std::string& what) : std::runtime_error(what), reason(r) {}
    Reason reason;
};

// The platform's path separator, where the original joined paths with "\".
#ifdef _WIN32
inline constexpr char16_t path_separator = u'\\';
#else
inline constexpr char16_t path_separator = u'/';
#endif

}  // namespace pagiro
