#include "formats.h"

#include <QBuffer>

#include "generator/settings.h"
#include "jpeg/bmptojpg.h"
#include "platform/surface.h"
#include "platform/xygraphics.h"
#include "render/png_writer.h"

namespace pagiro {
namespace {

QByteArray jpeg_of(const QImage& page, bool grey) {
    bmptojpg encoder;
    if (grey) encoder.SetSamplingFrequencies(1, 1, 0, 0, 0, 0);
    encoder.SampleHDC(view_of(page), page.width(), page.height(), 0, 0);
    const std::vector<std::uint8_t> bytes = encoder.SaveBytes();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

std::optional<QByteArray> jpg_page(const QImage& page, const RunSettings&, QString*) { return jpeg_of(page, false); }

std::optional<QByteArray> bmp_page(const QImage& page, const RunSettings&, QString* reason) {
    QByteArray bytes;
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

constexpr PageFormat kFormats[] = {
    {u".gif", "gif", Canvas::gif_component, ProgressAt::page_start, gif_page, false},
    {u".jpg", "jpg", Canvas::surface, ProgressAt::every_line, jpg_page, false},
    {u".bmp", "bmp", Canvas::surface, ProgressAt::every_line, bmp_page, false},
};

// A typeset page is laid out whole before it is named, so progress is per page.
constexpr PageFormat kTypesetFormats[] = {
    {u".png", "png", Canvas::typeset, ProgressAt::page_start, png_page, true},
    {u".jpg", "jpg", Canvas::typeset, ProgressAt::page_start, grey_jpg_page, false},
    {u".gif", "gif", Canvas::typeset, ProgressAt::page_start, gif_page, false},
    {u".bmp", "bmp", Canvas::typeset, ProgressAt::page_start, bmp_page, false},
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

const PageFormat* find_format(const QString& extension) { return by_extension(kFormats, extension); }
const PageFormat* find_format_by_name(const QString& name) { return by_name(kFormats, name); }
const PageFormat* find_typeset_format(const QString& extension) { return by_extension(kTypesetFormats, extension); }
const PageFormat* find_typeset_format_by_name(const QString& name) { return by_name(kTypesetFormats, name); }

}  // namespace pagiro
