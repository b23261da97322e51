#include "page_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/staged_file.h"

namespace pagiro {

bool write_page_file(const Folder& folder, const std::string& name, const void* data, std::size_t size,
                     std::string& error, bool* removed, int* code) {
    if (removed) *removed = false;
    auto fail = [&](int number, const char* what = nullptr) {
        error = what ? what : std::strerror(number);
        if (code) *code = number;
        return false;
    };
    StagedFile file(folder);
    if (!file.ok()) return fail(file.error_number());
    if (!file.append(data, size) || !file.close()) {
        const int number = file.error_number();
        file.discard();
        if (removed) *removed = true;
        return fail(number);
    }
    // Most pages are new: named in one step. Otherwise what is at the name is
    // looked at first: a rename would replace a pipe or a device as readily as an
    // older page, so anything but a file or a link stays and the page fails.
    bool taken = false;
    if (file.commit_as_new(name, taken)) return true;
    if (!taken) return fail(file.error_number());
    struct stat st {};
    if (::fstatat(folder.handle(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) return fail(EISDIR);
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return fail(EINVAL, "not a regular file");
    }
    if (!file.commit_as(name)) return fail(file.error_number());
    return true;
}

bool write_page_file(const std::string& path, const void* data, std::size_t size, std::string& error, bool* removed,
                     int* code) {
    if (removed) *removed = false;
    const std::filesystem::path p(path);
    Folder folder;
    try {
        folder = Folder::open(p.has_parent_path() ? p.parent_path() : std::filesystem::path("."));
    } catch (const FolderError& e) {
        const int number = e.system_error != 0 ? e.system_error : ENOENT;
        error = std::strerror(number);
        if (code) *code = number;
        return false;
    }
    return write_page_file(folder, p.filename().string(), data, size, error, removed, code);
}

}  // namespace pagiro
