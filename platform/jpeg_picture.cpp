#include "jpeg_picture.h"

#include <QImageReader>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <jpeglib.h>
#include <limits>
#include <optional>
#include <thread>
#include <vector>


namespace pagiro {

// libjpeg reports a fatal error by calling error_exit, which must not return: it
// jumps back to the call that was in progress. Only plain C data lives between
// the setjmp and the calls into the library.
struct JpegPictureReader::State {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf failed{};
    bool created = false;
};

namespace {

void jump_back(j_common_ptr info) {
    auto* state = static_cast<JpegPictureReader::State*>(info->client_data);
    std::longjmp(state->failed, 1);
}

// Warnings (data past the end, a damaged stretch) go unreported as in Qt's reader,
// which shows the picture decoded as far as it goes.
void no_message(j_common_ptr) {}

// The colour spaces whose pixels come out as Qt gives them; a CMYK picture (and
// Adobe's inverted CMYK) Qt converts in its own way.
bool same_as_qt(const jpeg_decompress_struct& info) {
    switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE: return info.num_components == 1;
    case JCS_YCbCr:
    case JCS_RGB: return info.num_components == 3;
    default: return false;
    }
}

// A reader that turns pictures by their camera's note would give other pixels.
bool qt_turns_pictures() {
    static const bool turns = QImageReader().autoTransform();
    return turns;
}

}  // namespace

JpegPictureReader::JpegPictureReader(const std::uint8_t* bytes, std::size_t size)
    : state_(std::make_unique<State>()), bytes_(bytes), byte_count_(size) {
    if (!looks_like_jpeg(bytes, size) || size > std::numeric_limits<unsigned long>::max() || qt_turns_pictures())
        return;
    State& s = *state_;
    s.info.err = jpeg_std_error(&s.errors);
    s.errors.error_exit = jump_back;
    s.errors.output_message = no_message;
    s.info.client_data = &s;
    if (setjmp(s.failed)) return;
    jpeg_create_decompress(&s.info);
    s.created = true;
    jpeg_mem_src(&s.info, bytes, static_cast<unsigned long>(size));
    if (jpeg_read_header(&s.info, TRUE) != JPEG_HEADER_OK) return;
    if (!same_as_qt(s.info) || s.info.image_width == 0 || s.info.image_height == 0) return;
    // Qt's reader leaves the transform, the upsampling and the smoothing of a
    // progressive picture at the library's defaults; so do we.
    s.info.out_color_space = JCS_EXT_BGRX;
    size_ = QSize(int(s.info.image_width), int(s.info.image_height));
    readable_ = true;
}

JpegPictureReader::~JpegPictureReader() {
    if (state_->created) jpeg_destroy_decompress(&state_->info);
}

namespace {

// Decodes rows first .. end - 1 into `rows` (row 0 at first_row), reading past
// the rows above `first` without drawing them; whole rows go through `spare` (one
// row of the whole width) when the part is narrower than the picture.
bool decode_rows(JpegPictureReader::State& s, unsigned char* first_row, std::ptrdiff_t stride, int part_width,
                 int first, int end, unsigned char* spare) {
    if (setjmp(s.failed)) return false;
    jpeg_start_decompress(&s.info);
    if (first > 0 && jpeg_skip_scanlines(&s.info, JDIMENSION(first)) != JDIMENSION(first)) return false;
    constexpr int kBatch = 16;
    JSAMPROW rows[kBatch];
    while (int(s.info.output_scanline) < end) {
        const int y = int(s.info.output_scanline);
        if (spare) {
            rows[0] = spare;
            if (jpeg_read_scanlines(&s.info, rows, 1) != 1) return false;
            std::memcpy(first_row + stride * y, spare, std::size_t(part_width) * 4);
            continue;
        }
        const int n = std::min(kBatch, end - y);
        for (int k = 0; k < n; ++k) rows[k] = first_row + stride * (y + k);
        if (jpeg_read_scanlines(&s.info, rows, JDIMENSION(n)) == 0) return false;
    }
    jpeg_abort_decompress(&s.info);
    return true;
}

// Where the two threads' rows meet: the lower thread reads the upper rows too
// (without drawing them they still cost it about two thirds of their time, for
// the entropy decoding), so the upper thread takes the larger share. Measured on
// photographs of quality 75 to 95.
constexpr double kUpperShare = 0.7;

}  // namespace

QImage JpegPictureReader::read(QSize part, std::int64_t split_from) {
    if (!readable_ || part.isEmpty() || part.width() > size_.width() || part.height() > size_.height()) return {};
    readable_ = false;
    QImage picture(part, QImage::Format_RGB32);
    if (picture.isNull()) return {};
    unsigned char* const first_row = picture.bits();
    const std::ptrdiff_t stride = picture.bytesPerLine();
    std::vector<unsigned char> spare;
    if (part.width() < size_.width()) {
        try {
            spare.resize(std::size_t(size_.width()) * 4);
        } catch (const std::bad_alloc&) {
            return {};
        }
    }
    const int middle = int(part.height() * kUpperShare);
    std::optional<JpegPictureReader> lower;
    std::thread helper;
    bool lower_ok = false;
    // A progressive picture is decoded whole before its first row comes out, so
    // a second thread would only do the same work again.
    if (spare.empty() && std::int64_t(part.width()) * part.height() >= split_from && middle > 0 &&
        !state_->info.progressive_mode) {
        try {
            lower.emplace(bytes_, byte_count_);
            if (lower->readable_)
                helper = std::thread([&] {
                    lower_ok = decode_rows(*lower->state_, first_row, stride, part.width(), middle, part.height(),
                                           nullptr);
                });
        } catch (const std::exception&) {
            // No second thread or no memory for its decoder: one thread decodes all.
        }
    }
    const int upper_end = helper.joinable() ? middle : part.height();
    const bool upper_ok =
        decode_rows(*state_, first_row, stride, part.width(), 0, upper_end, spare.empty() ? nullptr : spare.data());
    if (helper.joinable()) helper.join();
    else lower_ok = true;
    if (!upper_ok || !lower_ok) return {};
    return picture;
}

bool looks_like_jpeg(const std::uint8_t* bytes, std::size_t size) {
    return bytes && size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

}  // namespace pagiro
