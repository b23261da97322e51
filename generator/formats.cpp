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

// The background colour is the transparent one, as the GIF component marks it.
std::optional<QByteArray> gif_page(const QImage& page, const RunSettings& s, QString* reason) {
    return encode_gif(view_of(page), s.background_colour, reason);
}

constexpr PageFormat kFormats[] = {
    {u".gif", "gif", Canvas::gif_component, ProgressAt::page_start, gif_page},
    {u".jpg", "jpg", Canvas::surface, ProgressAt::every_line, jpg_page},
    {u".bmp", "bmp", Canvas::surface, ProgressAt::every_line, bmp_page},
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
