#include "folders.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

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

namespace {

[[noreturn]] void fail_to_open(int number) {
    using R = FolderError::Reason;
    switch (number) {
    case ENOTDIR: throw FolderError(R::NotAFolder, "it is not a folder", number);
    case ELOOP: throw FolderError(R::Link, "it is a symbolic link", number);
    case EACCES:
    case EPERM:
    case EROFS: throw FolderError(R::Denied, std::strerror(number), number);
    default: throw FolderError(R::Other, std::strerror(number), number);
    }
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

}  // namespace

Folder::~Folder() {
    if (is_open()) ::close(handle_);
}

Folder::Folder(Folder&& other) noexcept : handle_(std::exchange(other.handle_, Handle(-1))) {}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (is_open()) ::close(handle_);
        handle_ = std::exchange(other.handle_, Handle(-1));
    }
    return *this;
}

Folder Folder::open(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), kFolderFlags);
    if (fd < 0) fail_to_open(errno);
    return Folder(fd);
}

void Folder::lock() {
    // flock belongs to this open folder, not to the process: a second open of the
    // same folder, even in this process, is refused, and closing the folder (or the
    // process ending in any way) lets it go.
    while (::flock(handle_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK)
            throw FolderError(FolderError::Reason::Busy, "another run is writing into it", EWOULDBLOCK);
        return;  // no locks on this file system
    }
}

Folder Folder::subfolder(const std::string& name, bool* made) const {
    const bool created = ::mkdirat(handle_, name.c_str(), 0777) == 0;
    if (!created && errno != EEXIST) fail_to_open(errno);
    if (made) *made = created;
    int fd = ::openat(handle_, name.c_str(), kFolderFlags | O_NOFOLLOW);
    if (fd >= 0) return Folder(fd);
    const int number = errno;
    // O_NOFOLLOW on a link says ELOOP, O_DIRECTORY on a file ENOTDIR; a link to a
    // file may say either, so ask what the name is.
    struct stat st {};
    if (::fstatat(handle_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) fail_to_open(ELOOP);
        if (!S_ISDIR(st.st_mode)) fail_to_open(ENOTDIR);
    }
    fail_to_open(number);
}

bool Folder::remove_subfolder(const std::string& name) const {
    return ::unlinkat(handle_, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace pagiro
