#pragma once
// Writing one file the product makes — a page of a run, or a picture the encoder
// classes save — all of it, or nothing. Every such file is written here; a book
// (one file for a whole run) is built through StagedFile instead.
#include <cstddef>
#include <string>

namespace pagiro {

// Writes `size` bytes to `path`, replacing a regular file of that name (never a
// folder, a device or a pipe). On failure `error` says why, `code` (when given)
// is the system's error number, and `removed` (when given) tells whether a file
// had been begun and was removed again.
bool write_page_file(const std::string& path, const void* data, std::size_t size, std::string& error,
                     bool* removed = nullptr, int* code = nullptr);

}  // namespace pagiro
