#pragma once
// Writing one file the product makes — a page of a run, or a picture the encoder
// classes save — all of it, or nothing. Every such file is written here. A new page
// goes into a file without a name in its folder (Linux's O_TMPFILE), which gets the
// page's name once the bytes are all there. Otherwise (an older page has the name,
// or the system cannot make such files) it goes through a StagedFile: a temporary
// name in the same folder, renamed to the page's. A page under its name is therefore
// always whole, whatever ends the program, and an older page of that name is only
// ever replaced by a whole new one.
#include <cstddef>
#include <string>

#include "platform/folders.h"

namespace pagiro {

// Writes `size` bytes as the file `name` inside the open `folder`. A regular file of
// that name is replaced (a hard link's other names keep the old bytes), and so is a
// symbolic link: the link goes, nothing is written through it. A folder, a device or
// a pipe of that name is left alone and the write fails. On failure `error` says why,
// `code` (when given) is the system's error number, and `removed` (when given) tells
// whether the bytes had been begun and were removed again.
bool write_page_file(const Folder& folder, const std::string& name, const void* data, std::size_t size,
                     std::string& error, bool* removed = nullptr, int* code = nullptr);

// The same for a file named by its path (relative to the current folder).
bool write_page_file(const std::string& path, const void* data, std::size_t size, std::string& error,
                     bool* removed = nullptr, int* code = nullptr);

// False sends every page the temporary-name way, for tests of that way.
void use_unnamed_page_files(bool allowed);

}  // namespace pagiro
