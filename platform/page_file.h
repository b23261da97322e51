#pragma once
// Writing one page file: all of it, or nothing. A write that fails (a full disk,
// a file-size limit, a vanished folder) removes what it had written and says why.
#include <cstddef>
#include <string>

namespace pagiro {

// `removed` (when given) tells whether a file had been begun and was removed again.
bool write_page_file(const std::string& path, const void* data, std::size_t size, std::string& error,
                     bool* removed = nullptr);

}  // namespace pagiro
