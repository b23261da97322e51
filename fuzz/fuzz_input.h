#pragma once
// Reads a fuzzer's input as a stream of settings followed by payload bytes. Past the
// end every read gives zero, so any input, even an empty one, is a valid case.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | u8() << 8); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(u16()) | static_cast<std::uint32_t>(u16()) << 16; }
    bool flag() { return u8() & 1; }

    // The bytes not read yet.
    const std::uint8_t* rest() const { return data_ + pos_; }
    std::size_t rest_size() const { return size_ - pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A failed check: print what was expected and crash, so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

// A file name of this process's own, in memory when /dev/shm is there.
inline std::string scratch_path(const char* stem) {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/pagiro-fuzz-" + stem + "-" + std::to_string(getpid());
}

}  // namespace fuzz

#define FUZZ_CHECK(cond) ((cond) ? void(0) : ::fuzz::fail(__FILE__, __LINE__, #cond))
