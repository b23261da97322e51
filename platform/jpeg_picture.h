#pragma once
// A JPEG background picture read with libjpeg-turbo straight into the page's
// pixel format (Format_RGB32: blue, green, red, 0xFF), without the 24-bit picture
// and the conversion copy Qt's reader makes. It is the same library with the same
// settings Qt's JPEG reader uses (accurate integer transform, smooth upsampling),
// so the pixels are exactly the ones Qt's reader gives. Pictures it does not take
// (anything but grey, YCbCr or RGB, and pictures a camera stored turned) are left
// to Qt's reader.
#include <QImage>
#include <QSize>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace pagiro {

class JpegPictureReader {
public:
    // Reads the picture's header from the file's bytes, which the caller keeps
    // until the reader is gone. In memory, the library decodes on its fast path
    // all the way rather than slowing down at the end of every piece it reads.
    JpegPictureReader(const std::uint8_t* bytes, std::size_t size);
    ~JpegPictureReader();
    JpegPictureReader(const JpegPictureReader&) = delete;
    JpegPictureReader& operator=(const JpegPictureReader&) = delete;

    // Whether the file is a JPEG picture this reader decodes as Qt's reader would.
    bool readable() const { return readable_; }
    QSize size() const { return size_; }

    // The top-left `part` of the picture (within size()), or a null picture when
    // the file turns out to be broken or memory runs out. Only rows down to the
    // bottom of the part are decoded. Call once.
    //
    // A part of `split_from` pixels or more (as wide as the picture, not
    // progressive) is decoded by two threads: the second reads past the upper rows
    // without drawing them and decodes the lower ones, which saves about a third
    // of the time. The pixels are the same either way.
    static constexpr std::int64_t kSplitPixels = std::int64_t(2) << 20;
    QImage read(QSize part, std::int64_t split_from = kSplitPixels);

    struct State;  // the library's decoder, private to the source file

private:
    std::unique_ptr<State> state_;
    const std::uint8_t* bytes_;
    std::size_t byte_count_;
    bool readable_ = false;
    QSize size_;
};

// Whether the first bytes of a file say JPEG.
bool looks_like_jpeg(const std::uint8_t* bytes, std::size_t size);

}  // namespace pagiro
