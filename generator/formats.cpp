#include "formats.h"

#include <QBuffer>
#include <algorithm>
#include <span>

#include "generator/settings.h"
#include "jpeg/bmptojpg.h"
#include "platform/surface.h"
#include "platform/xygraphics.h"
#include "render/png_writer.h"

namespace pagiro {
namespace {

constexpr std::int64_t kTwoThreadPixels = 1 << 20;
// Pages up to this size are encoded by an encoder each worker thread keeps, whose
// arrays serve page after page (about 2 MB at most held per thread); larger ones
// by an encoder of their own, so that their memory goes with them.
constexpr std::int64_t kKeptEncoderPixels = 1 << 19;

QByteArray encode_with(bmptojpg& encoder, const QImage& page) {
    encoder.SampleHDC(view_of(page), page.width(), page.height(), 0, 0);
    const std::span<const std::uint8_t> bytes = encoder.SaveView();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

QByteArray jpeg_of(const QImage& page, bool grey) {
    const std::int64_t pixels = std::int64_t(page.width()) * page.height();
    if (pixels <= kKeptEncoderPixels) {
        thread_local bmptojpg colour_encoder;
        thread_local bmptojpg grey_encoder = [] {
            bmptojpg e;
            e.SetSamplingFrequencies(1, 1, 0, 0, 0, 0);
            return e;
        }();
        return encode_with(grey ? grey_encoder : colour_encoder, page);
    }
    bmptojpg encoder;
    if (grey) encoder.SetSamplingFrequencies(1, 1, 0, 0, 0, 0);
    // Large pages are few in flight (their memory bounds them), so the encoder
    // takes the second core itself; the bytes do not depend on it.
    if (pixels >= kTwoThreadPixels) encoder.SetThreads(2);
    return encode_with(encoder, page);
}

std::optional<QByteArray> jpg_page(const QImage& page, const RunSettings&, QString*) { return jpeg_of(page, false); }

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

// The background colour is the transparent one, as the GIF component marks it,
// unless the run asks for an opaque page.
std::optional<QByteArray> gif_page(const QImage& page, const RunSettings& s, QString* reason) {
    return encode_gif(view_of(page), s.gif_transparent ? std::optional(s.background_colour) : std::nullopt, reason);
}

// Typeset pages are grey on the screens they are made for: one component.
std::optional<QByteArray> grey_jpg_page(const QImage& page, const RunSettings&, QString*) { return jpeg_of(page, true); }

std::optional<QByteArray> png_page(const QImage& page, const RunSettings& s, QString* reason) {
    std::string error;
    const std::vector<std::uint8_t> bytes = typeset::encode_png(page, s.png_kind, error);
    if (bytes.empty()) {
        *reason = QString::fromStdString(error);
        return std::nullopt;
    }
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// What a page holds while it is encoded and until it is written, beyond its pixels:
// measured on 4000 × 4000 and 8000 × 8000 pages and rounded up. The JPEG encoder's
// coefficients (two bytes a sample, 4:2:0) and its output with the copies made of
// it; the GIF page's own picture and its output (LZW codes of up to 12 bits a
// pixel); the BMP file and Qt's line buffers; the PNG rows and their compression.
std::uint64_t jpg_encoding_bytes(std::uint64_t w, std::uint64_t h) { return 6 * w * h; }
std::uint64_t gif_encoding_bytes(std::uint64_t w, std::uint64_t h) { return 4 * w * h; }
std::uint64_t bmp_encoding_bytes(std::uint64_t w, std::uint64_t h) { return bmp_file_bytes(w, h) + w * h; }
std::uint64_t png_encoding_bytes(std::uint64_t w, std::uint64_t h) { return 4 * w * h; }
std::uint64_t no_file_bytes(std::uint64_t, std::uint64_t) { return 0; }
// A book page: its grey copy and the packed bitmap, or the PNG or JPEG made of it.
std::uint64_t xtc_encoding_bytes(std::uint64_t w, std::uint64_t h) { return 2 * w * h; }
std::uint64_t cbz_encoding_bytes(std::uint64_t w, std::uint64_t h) { return 6 * w * h; }

// A book's pages are packed or stored by the book's writer, never as loose files.
std::optional<QByteArray> book_page(const QImage&, const RunSettings&, QString* reason) {
    *reason = QStringLiteral("a book page is written into its book");
    return std::nullopt;
}

// The GIF screen and image descriptors hold the size in 16 bits. So does the JPEG
// frame header, but libjpeg, which most viewers decode with, stops a little short.
// PNG holds 31 bits each way, past any page a run can draw.
constexpr std::uint32_t kGifMaxSide = 65535;
constexpr std::uint32_t kJpegMaxSide = 65500;
constexpr std::uint32_t kPngMaxSide = 0x7FFFFFFF;
// Qt's BMP writer works out the file's size in a signed 32-bit number.
constexpr std::uint64_t kBmpMaxFileBytes = 0x7FFFFFFF;
// An Xteink page holds its size in 16 bits; a comic book's pages may be JPEG.
constexpr std::uint32_t kXtcMaxSide = 65535;

constexpr PageFormat kFormats[] = {
    {u".gif", "gif", Canvas::gif_component, ProgressAt::page_start, gif_page, false, kGifMaxSide, 0, no_file_bytes,
     gif_encoding_bytes},
    {u".jpg", "jpg", Canvas::surface, ProgressAt::every_line, jpg_page, false, kJpegMaxSide, 0, no_file_bytes,
     jpg_encoding_bytes},
    {u".bmp", "bmp", Canvas::surface, ProgressAt::every_line, bmp_page, false, 0, kBmpMaxFileBytes, bmp_file_bytes,
     bmp_encoding_bytes},
};

// A typeset page is laid out whole before it is named, so progress is per page.
constexpr PageFormat kTypesetFormats[] = {
    {u".png", "png", Canvas::typeset, ProgressAt::page_start, png_page, true, kPngMaxSide, 0, no_file_bytes,
     png_encoding_bytes},
    {u".jpg", "jpg", Canvas::typeset, ProgressAt::page_start, grey_jpg_page, false, kJpegMaxSide, 0, no_file_bytes,
     jpg_encoding_bytes},
    {u".gif", "gif", Canvas::typeset, ProgressAt::page_start, gif_page, false, kGifMaxSide, 0, no_file_bytes,
     gif_encoding_bytes},
    {u".bmp", "bmp", Canvas::typeset, ProgressAt::page_start, bmp_page, false, 0, kBmpMaxFileBytes, bmp_file_bytes,
     bmp_encoding_bytes},
};

// Drawn on the surface in a classic run and by the typeset renderer in a typeset
// one; a page is named and shown as it starts, as typeset pages are.
constexpr PageFormat kBookFormats[] = {
    {u".xtc", "xtc", Canvas::surface, ProgressAt::page_start, book_page, true, kXtcMaxSide, 0, no_file_bytes,
     xtc_encoding_bytes, BookKind::xtc},
    {u".xtch", "xtch", Canvas::surface, ProgressAt::page_start, book_page, true, kXtcMaxSide, 0, no_file_bytes,
     xtc_encoding_bytes, BookKind::xtch},
    {u".cbz", "cbz", Canvas::surface, ProgressAt::page_start, book_page, true, kJpegMaxSide, 0, no_file_bytes,
     cbz_encoding_bytes, BookKind::cbz},
};

const PageFormat* by_extension(std::span<const PageFormat> table, const QString& extension) {
    for (const PageFormat& f : table)
        if (extension == QStringView(f.extension)) return &f;
    return nullptr;
}

const PageFormat* by_name(std::span<const PageFormat> table, const QString& name) {
    QString n = name.toLower();
    if (n.startsWith(u'.')) n.remove(0, 1);
    for (const PageFormat& f : table)
        if (n == QLatin1String(f.name)) return &f;
    return nullptr;
}

}  // namespace

std::span<const PageFormat> page_formats() { return kFormats; }
std::span<const PageFormat> typeset_page_formats() { return kTypesetFormats; }
std::span<const PageFormat> book_formats() { return kBookFormats; }

// The page formats first, then the books.
template <class Key, class Find>
const PageFormat* page_or_book(std::span<const PageFormat> pages, const Key& key, Find find) {
    if (const PageFormat* f = find(pages, key)) return f;
    return find(std::span<const PageFormat>(kBookFormats), key);
}

const PageFormat* find_format(const QString& extension) { return page_or_book(kFormats, extension, by_extension); }
const PageFormat* find_format_by_name(const QString& name) { return page_or_book(kFormats, name, by_name); }
const PageFormat* find_typeset_format(const QString& extension) {
    return page_or_book(kTypesetFormats, extension, by_extension);
}
const PageFormat* find_typeset_format_by_name(const QString& name) {
    return page_or_book(kTypesetFormats, name, by_name);
}

std::vector<const PageFormat*> listed_formats() {
    std::vector<const PageFormat*> listed;
    for (std::span<const PageFormat> table : {page_formats(), typeset_page_formats(), book_formats()})
        for (const PageFormat& f : table)
            if (std::none_of(listed.begin(), listed.end(),
                             [&](const PageFormat* l) { return QStringView(l->extension) == QStringView(f.extension); }))
                listed.push_back(&f);
    return listed;
}

bool classic_format(const QString& extension) { return find_format(extension) != nullptr; }

const PageFormat* device_page_format(std::string_view device_format, bool typeset) {
    const QString name = QString::fromLatin1(device_format.data(), qsizetype(device_format.size()));
    if (!typeset) return find_format_by_name(name);
    const PageFormat* own = find_typeset_format_by_name(name);
    return own ? own : find_typeset_format_by_name(QStringLiteral("png"));
}

}  // namespace pagiro
