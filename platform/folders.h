#pragma once
// The folder operations a run needs: does a folder exist, create one folder level
// (the parent must exist already), and hold a folder open for the run, so that every
// volume folder and page is made inside the folder the run started with.
#include <filesystem>
#include <stdexcept>
#include <string>

namespace pagiro {

bool folder_exists(const std::filesystem::path& path);

// Creates the folder when it does not exist. Throws FolderError with a plain
// reason when it cannot (parent missing, a file of that name, no permission).
// A trailing separator ("out/") names the same folder.
void create_folder(const std::filesystem::path& path);

struct FolderError : std::runtime_error {
    enum class Reason { ParentMissing, NotAFolder, Link, Denied, Busy, Other };
    FolderError(Reason r, const std::string& what, int number = 0)
        : std::runtime_error(what), reason(r), system_error(number) {}
    Reason reason;
    int system_error;  // the system's error number, when it gave one
};

// An open folder. Names are made relative to it, so they land in this folder even
// when it is renamed, or replaced by a link, while the run goes on.
class Folder {
public:
    Folder() = default;
    ~Folder();
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

#ifdef _WIN32
    using Handle = void*;  // a directory HANDLE
#else
    using Handle = int;  // a descriptor opened with O_DIRECTORY
#endif
    bool is_open() const { return handle_ != Handle(-1); }
    // The system's handle of the open folder, for the platform's own file code.
    Handle handle() const { return handle_; }

    // Opens the folder at `path` as it is named (a link the user chose is followed).
    // Throws FolderError: NotAFolder, Denied, Other.
    static Folder open(const std::filesystem::path& path);

    // Takes the run's lock on this folder, without any file of its own: a second run
    // into the same folder, in this or another process, cannot take it until this
    // folder is closed. Throws FolderError(Busy) when another run holds it. Where the
    // file system has no such locks, the run goes on without one.
    void lock();

    // The sub-folder `name`, created when it is missing and opened without following
    // a link. `made`, when given, says whether this call created it. Throws
    // FolderError: Link when `name` is a symbolic link, NotAFolder when it is
    // anything else but a folder, Denied, Other.
    Folder subfolder(const std::string& name, bool* made = nullptr) const;

    // Removes the empty sub-folder `name`; false when it cannot (not empty, gone).
    bool remove_subfolder(const std::string& name) const;

private:
    explicit Folder(Handle handle) : handle_(handle) {}
    Handle handle_ = Handle(-1);
};

// The platform's path separator, where the original joined paths with "\".
#ifdef _WIN32
inline constexpr char16_t path_separator = u'\\';
#else
inline constexpr char16_t path_separator = u'/';
#endif

}  // namespace pagiro
