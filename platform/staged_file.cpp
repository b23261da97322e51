#include "staged_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace pagiro {
namespace {

constexpr std::size_t buffer_limit = 1 << 20;
constexpr std::string_view temporary_prefix = ".pagiro-tmp-";
constexpr std::size_t temporary_digits = 16;

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

// A fresh temporary name. Tens of thousands are made per run, so the system's random
// source is asked once per process; O_EXCL settles the rare clash.
std::string temporary_name() {
    static std::atomic<std::uint64_t> next{(std::uint64_t(std::random_device{}()) << 32) ^ std::random_device{}()};
    std::uint64_t z = next.fetch_add(0x9E3779B97F4A7C15ull, std::memory_order_relaxed);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    char digits[temporary_digits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(z));
    return std::string(temporary_prefix) + digits;
}

}  // namespace

StagedFile::StagedFile(const Folder& folder) : folder_(folder.handle()) { create(); }

StagedFile::StagedFile(const std::filesystem::path& folder, const std::string& name) {
    try {
        own_folder_ = Folder::open(folder.empty() ? std::filesystem::path(".") : folder);
    } catch (const FolderError& e) {
        folder_ = Folder::Handle(-1);
        error_number_ = e.system_error != 0 ? e.system_error : ENOENT;
        error_ = "cannot create a file for " + name + " in " + folder.string() + ": " + e.what();
        return;
    }
    folder_ = own_folder_.handle();
    create();
    if (ok()) path_ = folder / name_;
}

void StagedFile::create() {
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string candidate = temporary_name();
        fd_ = ::openat(folder_, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd_ >= 0) {
            name_ = std::move(candidate);
            path_ = name_;
            return;
        }
        if (errno != EEXIST) break;
    }
    fail("cannot create a file", errno);
}

StagedFile::~StagedFile() { discard(); }

bool StagedFile::fail(const std::string& what, int error_number) {
    if (error_.empty()) {
        error_ = what + ": " + std::strerror(error_number);
        error_number_ = error_number;
    }
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

bool StagedFile::rename_to(Folder::Handle to_folder, const char* to_name, const std::string& shown) {
    if (!close() || name_.empty()) return false;
    if (::renameat(folder_, name_.c_str(), to_folder, to_name) != 0) return fail("cannot name the file " + shown, errno);
    committed_ = true;
    return true;
}

bool StagedFile::commit(const std::filesystem::path& final_path) {
    return rename_to(AT_FDCWD, final_path.c_str(), final_path.string());
}

bool StagedFile::commit_as(const std::string& name) { return rename_to(folder_, name.c_str(), name); }

bool StagedFile::commit_as_new(const std::string& name, bool& taken) {
    taken = false;
    if (!close() || name_.empty()) return false;
    if (::renameat2(folder_, name_.c_str(), folder_, name.c_str(), RENAME_NOREPLACE) == 0) {
        committed_ = true;
        return true;
    }
    const int number = errno;
    // EINVAL: a file system that cannot rename without replacing.
    if (number == EEXIST || number == EINVAL || number == ENOSYS) {
        taken = true;
        return false;
    }
    return fail("cannot name the file " + name, number);
}

void StagedFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
    if (!committed_ && !name_.empty()) ::unlinkat(folder_, name_.c_str(), 0);
    name_.clear();
    path_.clear();
}

bool StagedFile::is_temporary_name(std::string_view name) {
    if (name.size() != temporary_prefix.size() + temporary_digits || !name.starts_with(temporary_prefix)) return false;
    for (char c : name.substr(temporary_prefix.size()))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::size_t StagedFile::remove_leftovers(const Folder& folder) {
    // The listing gets a descriptor of its own: closedir closes it, and it must not
    // close the folder the run holds.
    const int listing = ::openat(folder.handle(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return 0;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return 0;
    }
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!is_temporary_name(entry->d_name)) continue;
        struct stat st {};
        if (::fstatat(folder.handle(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::unlinkat(folder.handle(), entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

}  // namespace pagiro
