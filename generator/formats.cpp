#include "formats.h"

#include <QBuffer>

#include "generator/settings.h"
#include "jpeg/bmptojpg.h"
#include "platform/surface.h"
#include "platform/xygraphics.h"

namespace pagiro {
namespace {

std::optional<QByteArray> jpg_page(const QImage& page, const RunSettings&, QString*) {
    bmptojpg encoder;
    encoder.SampleHDC(view_of(page), page.width(), page.height(), 0, 0);
    const std::vector<std::uint8_t> bytes = encoder.SaveBytes();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// 24-bit rows padded to four bytes, after the 54-byte headers.
std::uint64_t bmp_file_bytes(std::uint64_t w, std::uint64_t h) { return 54 + ((w * 3 + 3) & ~std::uint64_t(3)) * h; }

std::optional<QByteArray> bmp_page(const QImage& page, const RunSettings&, QString* reason) {
    QByteArray bytes;
    // The buffer takes the whole file at once rather than growing (and doubling) as it fills.
    bytes.reserve(qsizetype(bmp_file_bytes(std::uint64_t(page.width()), std::uint64_t(page.height()))));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!page.save(&buffer, "BMP")) {
        *reason = QStringLiteral("cannot encode the page");
        return std::nullopt;
    }
    return bytes;
}

// The background colour is the transparent one, as the GIF component marks it.
std::optional<QByteArray> gif_page(const QImage& page, const RunSettings& s, QString* reason) {
    return encode_gif(view_of(page), s.background_colour, reason);
}

// What a page holds while it is encoded and until it is written, beyond its pixels:
// measured on 4000 × 4000 and 8000 × 8000 pages and rounded up. The JPEG encoder's
// coefficients (two bytes a sample, 4:2:0) and its output with the copies made of
// it; the GIF page's own picture and its output (LZW codes of up to 12 bits a
// pixel); the BMP file and Qt's line buffers.
std::uint64_t jpg_encoding_bytes(std::uint64_t w, std::uint64_t h) { return 6 * w * h; }
std::uint64_t gif_encoding_bytes(std::uint64_t w, std::uint64_t h) { return 4 * w * h; }
std::uint64_t bmp_encoding_bytes(std::uint64_t w, std::uint64_t h) { return bmp_file_bytes(w, h) + w * h; }
std::uint64_t no_file_bytes(std::uint64_t, std::uint64_t) { return 0; }

// The GIF screen and image descriptors hold the size in 16 bits. So does the JPEG
// frame header, but libjpeg, which most viewers decode with, stops a little short.
constexpr std::uint32_t kGifMaxSide = 65535;
constexpr std::uint32_t kJpegMaxSide = 65500;
// Qt's BMP writer works out the file's size in a signed 32-bit number.
constexpr std::uint64_t kBmpMaxFileBytes = 0x7FFFFFFF;

constexpr PageFormat kFormats[] = {
    {u".gif", "gif", Canvas::gif_component, ProgressAt::page_start, gif_page, kGifMaxSide, 0, no_file_bytes,
     gif_encoding_bytes},
    {u".jpg", "jpg", Canvas::surface, ProgressAt::every_line, jpg_page, kJpegMaxSide, 0, no_file_bytes,
     jpg_encoding_bytes},
    {u".bmp", "bmp", Canvas::surface, ProgressAt::every_line, bmp_page, 0, kBmpMaxFileBytes, bmp_file_bytes,
     bmp_encoding_bytes},
};

}  // namespace

std::span<const PageFormat> page_formats() { return kFormats; }

const PageFormat* find_format(const QString& extension) {
    for (const PageFormat& f : kFormats)
        if (extension == QStringView(f.extension)) return &f;
    return nullptr;
}

const PageFormat* find_format_by_name(const QString& name) {
    QString n = name.toLower();
    if (n.startsWith(u'.')) n.remove(0, 1);
    for (const PageFormat& f : kFormats)
        if (n == QLatin1String(f.name)) return &f;
    return nullptr;
}

}  // namespace pagiro
