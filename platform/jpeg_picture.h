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
#include <cstdio>
#include <memory>

namespace pagiro {

class JpegPictureReader {
public:
    // Reads the picture's header from the start of `file`, which stays the caller's.
    explicit JpegPictureReader(std::FILE* file);
    ~JpegPictureReader();
    JpegPictureReader(const JpegPictureReader&) = delete;
    JpegPictureReader& operator=(const JpegPictureReader&) = delete;

    // Whether the file is a JPEG picture this reader decodes as Qt's reader would.
    bool readable() const { return readable_; }
    QSize size() const { return size_; }

    // The top-left `part` of the picture (within size()), or a null picture when
    // the file turns out to be broken or memory runs out. Only rows down to the
    // bottom of the part are decoded. Call once.
    QImage read(QSize part);

    struct State;  // the library's decoder, private to the source file

private:
    std::unique_ptr<State> state_;
    bool readable_ = false;
    QSize size_;
};

// Whether the first bytes of a file say JPEG.
bool looks_like_jpeg(std::FILE* file);

}  // namespace pagiro
