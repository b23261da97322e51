#include "page_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pagiro {

bool write_page_file(const std::string& path, const void* data, std::size_t size, std::string& error,
                     bool* removed, int* code) {
    if (removed) *removed = false;
    auto fail = [&](int number) {
        error = std::strerror(number);
        if (code) *code = number;
        return false;
    };
    // Written in place rather than through a temporary name and a rename: a run
    // writes tens of thousands of small files and the rename costs more than the
    // write. Stops and signals end a run between pages, so a file is only ever cut
    // short by a failing write, which removes it. Opened without blocking so that a
    // pipe of that name cannot hold the run; anything but a regular file is left alone.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(EINVAL);
        error = "not a regular file";
        return false;
    }
    const char* p = static_cast<const char*>(data);
    std::size_t left = size;
    int failure = 0;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            failure = errno;
            break;
        }
        if (n == 0) {
            failure = ENOSPC;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0) {
        if (::unlink(path.c_str()) == 0 && removed) *removed = true;
        return fail(failure);
    }
    return true;
}

}  // namespace pagiro
