#pragma once
// The background picture: read from its file, cut to the part a page shows, in
// the page's pixel format. A JPEG picture is decoded by libjpeg-turbo straight into
// that format, and a plain 24-bit BMP read into it; any other picture (and a JPEG
// or BMP those readers do not take) by Qt's readers. A run can start reading it on a thread of its own as soon as it knows
// the picture and the page size, so that the reading overlaps the program's start.
#include <QImage>
#include <QSize>
#include <QString>
#include <cstdint>
#include <optional>

namespace pagiro {

struct BackgroundPicture {
    QImage shown;  // the top-left part within the page (Format_RGB32, or premultiplied ARGB32 with alpha)
    QSize whole;   // the picture's own size
};

// The picture at `path` cut to a page of `page` size. On failure there is nothing
// and `error` (if given) says why, in plain English.
std::optional<BackgroundPicture> load_background_picture(const QString& path, QSize page, QString* error);

// Starts reading the picture at `path` for a page of `page` size on a thread of its
// own. The next load_background_picture of the same path and page size takes what
// it read, when the file is still the one it read; anything else it reads afresh.
// Only JPEG and plain BMP pictures are read ahead; a blank path starts nothing.
void load_background_picture_ahead(const QString& path, QSize page);

// Lets go of a picture read ahead that nothing will take (a process that only
// hands the work to others), once its reading is done.
void drop_background_picture_ahead();

// The memory that loading a width × height background picture takes at its peak
// when only its kept_width × kept_height top-left part is kept; `reads_part`: the
// picture's reader decodes no more than that part.
std::uint64_t picture_load_bytes(std::uint64_t width, std::uint64_t height, std::uint64_t kept_width,
                                 std::uint64_t kept_height, bool reads_part);

}  // namespace pagiro
