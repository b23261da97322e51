#pragma once
// A file that appears under its final name only when it is complete. It is written
// under a hidden temporary name (".pagiro-tmp-" and 16 hex digits) in the folder it
// belongs in, so that the last step is a rename on the same file system, and it is
// removed again unless it is committed. Every page of a run and every book is written
// this way: a stopped, killed or failed run never leaves a cut-short file, nor
// replaces a good one, under the name a reader opens. A page left behind only as a
// temporary file is cleared by the next run into that folder (remove_leftovers).
//
// Errors are sticky: after the first failure every call does nothing and returns
// false, and error() says what went wrong, so a writer can check once per page.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/folders.h"

namespace pagiro {

class StagedFile {
public:
    // Creates a new, empty temporary file in the open `folder`, which must outlive
    // this object. ok() says whether that worked.
    explicit StagedFile(const Folder& folder);
    // The same in the folder at `folder`; `name` only helps the error messages tell
    // whose file it is.
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
    // Closes the file and renames it to `final_path` (a path as the program was
    // given it, in the same folder), replacing a file or link of that name.
    bool commit(const std::filesystem::path& final_path);
    // The same, to `name` inside the folder the file was made in.
    bool commit_as(const std::string& name);
    // Renames the file to `name` inside its folder only if nothing has that name
    // yet; when something has (or the file system cannot tell), returns false with
    // `taken` set and the file still temporary and ok, for a caller that looks at
    // what is there before it replaces it.
    bool commit_as_new(const std::string& name, bool& taken);
    // Removes the temporary file now.
    void discard();

    std::uint64_t size() const { return size_; }
    // The temporary file's path: inside the folder given by path, or only its name
    // when the file was made in an open Folder.
    const std::filesystem::path& path() const { return path_; }
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // The system's error number of the first failure, 0 while ok().
    int error_number() const { return error_number_; }

    // Whether `name` is one of our temporary names, exactly.
    static bool is_temporary_name(std::string_view name);
    // Removes the temporary files of ours (regular files, exact names) that a run
    // ended by force left in `folder`; nothing else is touched. Returns how many.
    // Only while no other run can be writing there (the folder's lock is held).
    static std::size_t remove_leftovers(const Folder& folder);

private:
    void create();
    bool flush();
    bool rename_to(Folder::Handle to_folder, const char* to_name, const std::string& shown);
    bool fail(const std::string& what, int error_number);

    Folder own_folder_;  // when made by path
    Folder::Handle folder_;
    std::string name_;   // the temporary file's name in folder_
    std::filesystem::path path_;
    int fd_ = -1;
    bool committed_ = false;
    std::uint64_t size_ = 0;
    std::vector<std::uint8_t> buffer_;  // appends gathered into larger writes
    std::string error_;
    int error_number_ = 0;
};

}  // namespace pagiro
