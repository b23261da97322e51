#include "page_file.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/staged_file.h"

namespace pagiro {
namespace {

// Linux can make a file without a name (O_TMPFILE) and give it one once it is
// whole (linkat): a step fewer than a temporary name and a rename, for tens of
// thousands of pages a run, and a run killed part-way leaves nothing behind.
// Where the system refuses either (another file system, an older kernel, no
// right to link an open file) pages go through a StagedFile from then on.
std::atomic<bool> unnamed_allowed{true};
// A name found taken (a run into a folder of older pages) sends the next pages
// the staged way, which replaces in one step; a name found free sends them back.
std::atomic<bool> names_taken{false};

enum class Unnamed { Written, Taken, Refused, Failed };

Unnamed write_unnamed(const Folder& folder, const std::string& name, const void* data, std::size_t size,
                      int& number) {
    const int fd = ::openat(folder.handle(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        number = errno;
        return Unnamed::Refused;
    }
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::size_t left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            number = n < 0 ? errno : ENOSPC;
            ::close(fd);
            return Unnamed::Failed;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    // linkat fails with EEXIST rather than replace what has the name.
    Unnamed outcome = Unnamed::Written;
    if (::linkat(fd, "", folder.handle(), name.c_str(), AT_EMPTY_PATH) != 0) {
        number = errno;
        outcome = number == EEXIST ? Unnamed::Taken : Unnamed::Refused;
    }
    if (::close(fd) != 0 && outcome == Unnamed::Written) {
        // A network file system may report a lost write only here: the name must
        // not keep a page that may not be whole.
        number = errno;
        ::unlinkat(folder.handle(), name.c_str(), 0);
        return Unnamed::Failed;
    }
    return outcome;
}

}  // namespace

void use_unnamed_page_files(bool allowed) { unnamed_allowed = allowed; }

bool write_page_file(const Folder& folder, const std::string& name, const void* data, std::size_t size,
                     std::string& error, bool* removed, int* code) {
    if (removed) *removed = false;
    auto fail = [&](int number, const char* what = nullptr) {
        error = what ? what : std::strerror(number);
        if (code) *code = number;
        return false;
    };
    if (unnamed_allowed.load(std::memory_order_relaxed) && !names_taken.load(std::memory_order_relaxed)) {
        int number = 0;
        switch (write_unnamed(folder, name, data, size, number)) {
        case Unnamed::Written:
            return true;
        case Unnamed::Failed:
            if (removed) *removed = true;
            return fail(number);
        case Unnamed::Taken:
            names_taken = true;
            break;
        case Unnamed::Refused:
            // Refusals that say the system cannot do it; anything else (a folder
            // that is gone, no room for the name) the staged way reports as well.
            if (number == EOPNOTSUPP || number == EISDIR || number == EINVAL || number == ENOENT || number == EPERM)
                unnamed_allowed = false;
            break;
        }
    }
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
    if (file.commit_as_new(name, taken)) {
        names_taken.store(false, std::memory_order_relaxed);
        return true;
    }
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
