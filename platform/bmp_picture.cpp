#include "bmp_picture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <thread>
#include <unistd.h>
#include <vector>


namespace pagiro {
namespace {

std::uint32_t u16_at(const std::uint8_t* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
std::uint32_t u32_at(const std::uint8_t* p) { return u16_at(p) | u16_at(p + 2) << 16; }

// Reads exactly `size` bytes at `offset`; false when the file ends first or fails.
bool read_at(int fd, std::uint8_t* into, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, into, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        into += n;
        size -= std::size_t(n);
        offset += std::uint64_t(n);
    }
    return true;
}

// A picture's pixels by address: two threads write its rows, and QImage's own
// row access is not for two threads at once.
struct PictureRows {
    uchar* bits;
    qsizetype stride;
    int width;
};

// Rows first .. end - 1 of the picture: read a few at a time (or, for a part
// narrower than the picture, the part of each row) and widened from three bytes
// a pixel to four.
bool read_rows(int fd, const BmpLayout& layout, const PictureRows& picture, int first, int end) {
    const int width = picture.width;
    const std::size_t stored = std::size_t(width) * 3;
    const bool whole_rows = width == layout.size.width();
    // About 256 KB a read, and one spare byte so that every pixel can be taken as
    // a four-byte word.
    const int batch = whole_rows ? std::max(1, int((std::size_t(256) << 10) / layout.row_bytes)) : 1;
    const std::size_t step = whole_rows ? std::size_t(layout.row_bytes) : stored;
    std::vector<std::uint8_t> rows;
    try {
        rows.resize(std::size_t(batch) * step + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int y = first; y < end;) {
        const int n = std::min(batch, end - y);
        // Stored bottom-up, rows y .. y + n - 1 are the stored rows from the
        // height - y - n'th on, in the opposite order.
        const std::uint64_t index = layout.bottom_up ? std::uint64_t(layout.size.height() - y - n) : std::uint64_t(y);
        if (!read_at(fd, rows.data(), std::size_t(n - 1) * step + stored, layout.rows_at + index * layout.row_bytes))
            return false;
        for (int k = 0; k < n; ++k) {
            const std::uint8_t* in = rows.data() + std::size_t(layout.bottom_up ? n - 1 - k : k) * step;
            auto* out = reinterpret_cast<std::uint32_t*>(picture.bits + std::ptrdiff_t(y + k) * picture.stride);
            for (std::size_t x = 0; x < stored; x += 3) {
                std::uint32_t bgr;
                std::memcpy(&bgr, in + x, 4);
                *out++ = (bgr & 0xFFFFFFu) | 0xFF000000u;
            }
        }
        y += n;
    }
    return true;
}

}  // namespace

std::optional<BmpLayout> plain_bmp_layout(const std::uint8_t* header, std::size_t size, std::uint64_t file_size) {
    if (size < 14 + 40 || header[0] != 'B' || header[1] != 'M') return std::nullopt;
    const std::uint32_t rows_at = u32_at(header + 10);
    const std::uint8_t* info = header + 14;
    const std::uint32_t info_size = u32_at(info);
    // The Windows 3 header and its later, longer forms; the older OS/2 one has
    // 16-bit sizes.
    if (info_size != 40 && info_size != 108 && info_size != 124) return std::nullopt;
    const auto width = std::int32_t(u32_at(info + 4));
    const auto height = std::int32_t(u32_at(info + 8));
    const std::uint32_t planes = u16_at(info + 12), bits = u16_at(info + 14), compression = u32_at(info + 16);
    constexpr std::uint32_t kUncompressed = 0;
    if (planes != 1 || bits != 24 || compression != kUncompressed) return std::nullopt;
    if (width <= 0 || height == 0 || height == INT32_MIN || rows_at < 14 + info_size) return std::nullopt;
    BmpLayout layout;
    layout.size = QSize(width, height < 0 ? -height : height);
    layout.bottom_up = height > 0;
    layout.rows_at = rows_at;
    layout.row_bytes = (std::uint64_t(width) * 3 + 3) & ~std::uint64_t(3);
    if (layout.rows_at + layout.row_bytes * std::uint64_t(layout.size.height()) > file_size) return std::nullopt;
    return layout;
}

QImage read_plain_bmp(int fd, const BmpLayout& layout, QSize part, std::int64_t split_from) {
    if (part.isEmpty() || part.width() > layout.size.width() || part.height() > layout.size.height()) return {};
    QImage picture(part, QImage::Format_RGB32);
    if (picture.isNull()) return {};
    const PictureRows rows{picture.bits(), picture.bytesPerLine(), picture.width()};
    const int middle = part.height() / 2;
    bool lower_ok = true;
    std::thread helper;
    if (std::int64_t(part.width()) * part.height() >= split_from && middle > 0) {
        try {
            helper = std::thread([&] { lower_ok = read_rows(fd, layout, rows, middle, part.height()); });
        } catch (const std::exception&) {
            // No second thread: this one reads all the rows.
        }
    }
    const bool upper_ok = read_rows(fd, layout, rows, 0, helper.joinable() ? middle : part.height());
    if (helper.joinable()) helper.join();
    if (!upper_ok || !lower_ok) return {};
    return picture;
}

}  // namespace pagiro
