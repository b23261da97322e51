#include "staged_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace pagiro {
namespace {

constexpr std::size_t buffer_limit = 1 << 20;

bool write_all(int fd, const std::uint8_t* p, std::size_t left, std::uint64_t offset, bool positioned, int& failure) {
    while (left > 0) {
        ssize_t n = positioned ? ::pwrite(fd, p, left, static_cast<off_t>(offset)) : ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            failure = errno;
            return false;
        }
        if (n == 0) {
            failure = ENOSPC;
            return false;
        }
        p += n;
        offset += static_cast<std::uint64_t>(n);
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

StagedFile::StagedFile(const std::filesystem::path& folder, const std::string& name) {
    std::random_device entropy;
    std::mt19937 pick(entropy());
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x.part", static_cast<unsigned>(pick()));
        std::filesystem::path candidate = folder / ("." + name + suffix);
        fd_ = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            path_ = candidate;
            return;
        }
        if (errno != EEXIST) break;
    }
    fail("cannot create a file in " + folder.string(), errno);
}

StagedFile::~StagedFile() { discard(); }

bool StagedFile::fail(const std::string& what, int error_number) {
    if (error_.empty()) error_ = what + ": " + std::strerror(error_number);
    return false;
}

bool StagedFile::flush() {
    if (buffer_.empty() || !ok()) return ok();
    int failure = 0;
    bool written = write_all(fd_, buffer_.data(), buffer_.size(), 0, false, failure);
    buffer_.clear();
    return written || fail("cannot write " + path_.string(), failure);
}

bool StagedFile::append(const void* data, std::size_t size) {
    if (!ok() || fd_ < 0) return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    size_ += size;
    if (buffer_.size() + size <= buffer_limit) {
        buffer_.insert(buffer_.end(), p, p + size);
        return true;
    }
    if (!flush()) return false;
    if (size <= buffer_limit) {
        buffer_.assign(p, p + size);
        return true;
    }
    int failure = 0;
    return write_all(fd_, p, size, 0, false, failure) || fail("cannot write " + path_.string(), failure);
}

bool StagedFile::write_at(std::uint64_t offset, const void* data, std::size_t size) {
    if (!flush() || fd_ < 0) return false;
    int failure = 0;
    return write_all(fd_, static_cast<const std::uint8_t*>(data), size, offset, true, failure) ||
           fail("cannot write " + path_.string(), failure);
}

bool StagedFile::close() {
    if (fd_ < 0) return ok();
    flush();
    if (::close(fd_) != 0) fail("cannot write " + path_.string(), errno);
    fd_ = -1;
    return ok();
}

bool StagedFile::commit(const std::filesystem::path& final_path) {
    if (!close() || path_.empty()) return false;
    if (::rename(path_.c_str(), final_path.c_str()) != 0) return fail("cannot name the file " + final_path.string(), errno);
    committed_ = true;
    return true;
}

void StagedFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
    if (!committed_ && !path_.empty()) ::unlink(path_.c_str());
    path_.clear();
}

}  // namespace pagiro
