#pragma once
// A file that appears under its final name only when it is complete. It is written
// under a hidden temporary name in the folder it belongs in (so that the last step is
// a rename on the same file system), and removed again unless it is committed. A book
// of thousands of pages is written this way, so that a failed or stopped run never
// leaves a cut-short book, nor replaces a good one, under the name a reader opens.
//
// Errors are sticky: after the first failure every call does nothing and returns
// false, and error() says what went wrong, so a writer can check once per page.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pagiro {

class StagedFile {
public:
    // Creates a new, empty temporary file in `folder`; `name` only helps a person tell
    // whose temporary file it is. ok() says whether that worked.
    StagedFile(const std::filesystem::path& folder, const std::string& name);
    ~StagedFile();  // removes the temporary file unless it was committed
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    bool append(const void* data, std::size_t size);
    // Overwrites bytes already appended (a header written last).
    bool write_at(std::uint64_t offset, const void* data, std::size_t size);
    // Writes out what is buffered and closes the file; it is still temporary. For a
    // library that opens the file by its path.
    bool close();
    // Closes the file and renames it to `final_path`, replacing a file of that name.
    bool commit(const std::filesystem::path& final_path);
    // Removes the temporary file now.
    void discard();

    std::uint64_t size() const { return size_; }
    const std::filesystem::path& path() const { return path_; }
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

private:
    bool flush();
    bool fail(const std::string& what, int error_number);

    std::filesystem::path path_;
    int fd_ = -1;
    bool committed_ = false;
    std::uint64_t size_ = 0;
    std::vector<std::uint8_t> buffer_;  // appends gathered into larger writes
    std::string error_;
};

}  // namespace pagiro
