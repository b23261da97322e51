#include "page_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace pagiro {

bool write_page_file(const std::string& path, const void* data, std::size_t size, std::string& error,
                     bool* removed) {
    if (removed) *removed = false;
    // Written in place rather than through a temporary name and a rename: a run
    // writes tens of thousands of small files and the rename costs more than the
    // write. Stops and signals end a run between pages, so a page is only ever
    // cut short by a failing write, which removes it.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = std::strerror(errno);
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
        error = std::strerror(failure);
        return false;
    }
    return true;
}

}  // namespace pagiro
