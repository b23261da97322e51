#pragma once
// A 24-bit BMP background picture (uncompressed, the kind our own BMP pages and
// most tools write) read straight into the page's pixel format (Format_RGB32:
// blue, green, red, 0xFF), the rows of a big one by two threads. The pixels are
// exactly the ones Qt's BMP reader gives; every other BMP (palettes, 16 and 32
// bits, compression, a file shorter than its rows) is left to Qt's reader.
#include <QImage>
#include <QSize>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace pagiro {

// Where a plain 24-bit BMP keeps its rows.
struct BmpLayout {
    QSize size;
    std::uint64_t rows_at = 0;    // the offset of the first row stored
    std::uint64_t row_bytes = 0;  // a stored row, padded to four bytes
    bool bottom_up = true;        // rows stored from the bottom of the picture up
};

// The header's bytes that tell: the 14-byte file header and the info header after it.
constexpr std::size_t kBmpHeaderBytes = 14 + 124;

// The layout, when the file's first bytes (`header`, up to kBmpHeaderBytes) are a
// BMP this reader takes and a file of `file_size` bytes holds all its rows.
std::optional<BmpLayout> plain_bmp_layout(const std::uint8_t* header, std::size_t size, std::uint64_t file_size);

// The top-left `part` (within the picture) read from the open file `fd`, or a null
// picture when the file cannot be read as it said or memory runs out. Parts of
// `split_from` pixels or more are read by two threads.
inline constexpr std::int64_t kBmpSplitPixels = std::int64_t(1) << 20;
QImage read_plain_bmp(int fd, const BmpLayout& layout, QSize part, std::int64_t split_from = kBmpSplitPixels);

}  // namespace pagiro
