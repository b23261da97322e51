#include "surface.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImageReader>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "colour.h"
#include "page_file.h"

namespace pagiro {

QColor colour_from_win(std::uint32_t value) { return QColor(QRgb(0xFF000000u | swap_red_blue(value))); }

std::uint32_t win_from_colour(const QColor& colour) { return swap_red_blue(colour.rgb() & 0xFFFFFFu); }

int font_pixel_size(double points) {
    if (!(points > 0)) return 1;
    const double px = std::round(points * 96.0 / 72.0);  // std::round: halves away from zero
    if (px < 1) return 1;
    if (px > 4096) return 4096;
    return int(px);
}

QFont page_font(const QString& family, double points, QFont::HintingPreference hinting) {
    QFont font(family);
    font.setFamilies({family, QStringLiteral("AR PL UMing CN"), QStringLiteral("WenQuanYi Zen Hei Sharp")});
    font.setPixelSize(font_pixel_size(points));
    font.setStyleStrategy(QFont::NoAntialias);
    font.setHintingPreference(hinting);
    font.setKerning(false);
    return font;
}


PageSurface::PageSurface()
    : font_(page_font(QString(), 9)), text_colour_(Qt::black), background_colour_(Qt::white) {
    set_size(128, 110);
}

PageSurface::~PageSurface() { finish_drawing(); }

void PageSurface::set_size(int width, int height) {
    finish_drawing();
    image_ = QImage(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32);
    blank_valid_ = false;
}

bool PageSurface::set_background_picture(const QString& path, QString* error) {
    background_ = QImage();
    blank_valid_ = false;
    const QString name = path.trimmed();
    if (name.isEmpty()) return true;
    QImageReader reader(name);
    QImage picture = reader.read();
    if (picture.isNull()) {
        if (error) {
            const QFileInfo info(name);
            if (!info.exists())
                *error = QStringLiteral("no such file");
            else if (!info.isFile())
                *error = QStringLiteral("not a file");
            else
                *error = QStringLiteral("not a picture that can be read (%1)").arg(reader.errorString());
        }
        return false;
    }
    background_ = picture.convertToFormat(picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                    : QImage::Format_RGB32);
    return true;
}

void PageSurface::set_font(const QString& family, double points) {
    font_ = page_font(family, points, hinting_);
    glyph_cache_.reset();
    if (painter_.isActive()) {
        painter_.setFont(font_);
        ascent_ = painter_.fontMetrics().ascent();
    }
}

void PageSurface::set_hinting(QFont::HintingPreference hinting) {
    hinting_ = hinting;
    font_.setHintingPreference(hinting);
    glyph_cache_.reset();
    if (painter_.isActive()) painter_.setFont(font_);
}

QString PageSurface::resolved_family() const { return QFontInfo(font_).family(); }

void PageSurface::set_colors(std::uint32_t text_colour, std::uint32_t background_colour) {
    text_colour_ = colour_from_win(text_colour);
    background_colour_ = colour_from_win(background_colour);
    blank_valid_ = false;
    if (painter_.isActive()) painter_.setPen(text_colour_);
}

QPainter& PageSurface::painter() {
    if (!painter_.isActive()) {
        painter_.begin(&image_);
        painter_.setFont(font_);
        painter_.setPen(text_colour_);
        painter_.setBackgroundMode(Qt::TransparentMode);
        ascent_ = painter_.fontMetrics().ascent();
    }
    return painter_;
}

void PageSurface::finish_drawing() const {
    if (painter_.isActive()) painter_.end();
}

void PageSurface::clear() {
    // The cleared page is drawn once and then copied for every page.
    if (!blank_valid_) {
        QPainter& p = painter();
        p.fillRect(image_.rect(), background_colour_);
        if (!background_.isNull()) p.drawImage(0, 0, background_);
        finish_drawing();
        blank_ = image_.copy();
        blank_valid_ = true;
        return;
    }
    finish_drawing();
    std::memcpy(image_.bits(), blank_.constBits(), static_cast<std::size_t>(image_.sizeInBytes()));
}

void PageSurface::set_glyph_cache(bool on) { use_glyph_cache_ = on; }

void PageSurface::print(int left, int top, const QString& line) {
    if (line.isEmpty()) return;
    if (use_glyph_cache_) {
        if (!glyph_cache_) glyph_cache_ = std::make_unique<GlyphCache>(font_);
        finish_drawing();
        if (glyph_cache_->draw_line(image_, left, top, line, text_colour_.rgb())) return;
    }
    QPainter& p = painter();
    p.drawText(QPoint(left, top + ascent_), line);
}

PixelView view_of(const QImage& image) {
    PixelView v;
    v.data = image.constBits();
    v.width = image.width();
    v.height = image.height();
    v.stride = image.bytesPerLine();
    v.format = PixelFormat::Bgrx32;
    return v;
}

PixelView PageSurface::view() const {
    finish_drawing();
    return view_of(image_);
}

const QImage& PageSurface::image() const {
    finish_drawing();
    return image_;
}

bool PageSurface::save_bmp(const QString& path, QString* error) const {
    finish_drawing();
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        // Qt writes a 32-bit picture without alpha as a 24-bit bitmap.
        if (!image_.save(&buffer, "BMP")) {
            if (error) *error = QStringLiteral("the picture could not be encoded as BMP");
            return false;
        }
    }
    std::string reason;
    if (write_page_file(QFile::encodeName(path).toStdString(), bytes.constData(), std::size_t(bytes.size()), reason))
        return true;
    if (error) *error = QString::fromLocal8Bit(reason.c_str());
    return false;
}

}  // namespace pagiro
