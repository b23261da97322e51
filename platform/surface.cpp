#include "surface.h"

#include <QBuffer>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "background_picture.h"
#include "codepage.h"
#include "colour.h"
#include "file_names.h"
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


namespace {

// Pixels for a page, not yet written. Not asked for in large memory pages: where
// a virtual machine's balloon device hands freed memory back to the host, large
// pages come from exactly that memory, and a single big page then waited two to
// four times as long as with small ones.
QImage fresh_page(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull()) throw std::bad_alloc();  // Qt gives an empty picture when memory runs out
    return image;
}

// Fills a page with one colour. A big page's time goes mostly to the system
// handing out its fresh memory, so its rows are filled by two threads.
void fill_page(QImage& image, const QColor& colour) {
    constexpr std::int64_t kTwoThreadPixels = std::int64_t(1) << 20;
    if (std::int64_t(image.width()) * image.height() < kTwoThreadPixels || image.format() != QImage::Format_RGB32) {
        image.fill(colour);
        return;
    }
    QImage one(1, 1, QImage::Format_RGB32);
    one.fill(colour);
    const std::uint32_t pixel = *reinterpret_cast<const std::uint32_t*>(one.constBits());
    // The rows by address: QImage's own row access is not for two threads at once.
    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const int width = image.width();
    auto fill_rows = [bits, stride, width, pixel](int first, int end) {
        for (int y = first; y < end; ++y) std::fill_n(reinterpret_cast<std::uint32_t*>(bits + y * stride), width, pixel);
    };
    const int middle = image.height() / 2;
    std::thread lower;
    try {
        lower = std::thread(fill_rows, middle, image.height());
    } catch (const std::system_error&) {
        fill_rows(middle, image.height());  // no second thread: this one fills all
    }
    fill_rows(0, middle);
    if (lower.joinable()) lower.join();
}

}  // namespace

PageSurface::PageSurface()
    : font_(page_font(QString(), 9)), text_colour_(Qt::black), background_colour_(Qt::white) {
    cell_height_ = std::max(1, QFontMetrics(font_).height());
    set_size(128, 110);
}

PageSurface::~PageSurface() { finish_drawing(); }

void PageSurface::set_size(int width, int height) {
    finish_drawing();
    take_back_background();
    image_ = fresh_page(QSize(std::max(width, 1), std::max(height, 1)));
    blank_ = QImage();
    blank_valid_ = false;
    // A picture cut to a smaller page is read again for this one; should that
    // fail now, the part already kept still shows.
    const QSize shown = background_whole_.boundedTo(image_.size());
    if (!background_.isNull() && (shown.width() > background_.width() || shown.height() > background_.height())) {
        QImage kept = background_;
        const QSize whole = background_whole_;
        if (!set_background_picture(background_path_, nullptr)) {
            background_ = kept;
            background_whole_ = whole;
        }
    }
}

bool PageSurface::set_background_picture(const QString& path, QString* error) {
    lent_ = false;
    background_ = QImage();
    background_whole_ = QSize();
    blank_ = QImage();
    blank_valid_ = false;
    const QString name = path.trimmed();
    background_path_ = name;
    if (name.isEmpty()) return true;
    std::optional<BackgroundPicture> picture = load_background_picture(name, image_.size(), error);
    if (!picture) return false;
    background_ = std::move(picture->shown);
    background_whole_ = picture->whole;
    return true;
}

void PageSurface::set_font(const QString& family, double points) {
    font_ = page_font(family, points, hinting_);
    cell_height_ = std::max(1, QFontMetrics(font_).height());
    column_ = points * 4 / 3;
    forget_font();
    if (painter_.isActive()) {
        painter_.setFont(font_);
        ascent_ = painter_.fontMetrics().ascent();
    }
}

void PageSurface::forget_font() {
    glyph_cache_.reset();
    metrics_.reset();
    chars_.clear();  // their advances and glyph places were of the cache just gone
}

void PageSurface::set_hinting(QFont::HintingPreference hinting) {
    hinting_ = hinting;
    font_.setHintingPreference(hinting);
    cell_height_ = std::max(1, QFontMetrics(font_).height());
    forget_font();
    if (painter_.isActive()) painter_.setFont(font_);
}

QString PageSurface::resolved_family() const { return QFontInfo(font_).family(); }

void PageSurface::set_colors(std::uint32_t text_colour, std::uint32_t background_colour) {
    text_colour_ = colour_from_win(text_colour);
    background_colour_ = colour_from_win(background_colour);
    blank_ = QImage();
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
    finish_drawing();
    take_back_background();
    if (!background_.isNull() && background_.size() == image_.size() &&
        background_.format() == QImage::Format_RGB32) {
        image_ = std::move(background_);
        background_ = QImage();
        blank_ = QImage();
        blank_valid_ = false;
        lent_ = true;
        kept_at_.assign(std::size_t(image_.height()), -1);
        kept_rows_.clear();
        return;
    }
    // A page handed on (image() shares its pixels) keeps them: this page gets
    // pixels of its own, and nothing copies what is about to be covered anyway.
    if (!image_.isDetached()) image_ = fresh_page(image_.size());
    if (background_.isNull()) {
        fill_page(image_, background_colour_);
        return;
    }
    // The cleared page is drawn once and then copied for every page.
    if (!blank_valid_) {
        blank_ = fresh_page(image_.size());
        QPainter p(&blank_);
        p.fillRect(blank_.rect(), background_colour_);
        p.drawImage(0, 0, background_);
        blank_valid_ = true;
    }
    std::memcpy(image_.bits(), blank_.constBits(), static_cast<std::size_t>(image_.sizeInBytes()));
}

void PageSurface::take_back_background() {
    if (!lent_) return;
    // A page still held elsewhere stays as it is; the picture is copied out of it.
    QImage picture;
    if (image_.isDetached()) {
        picture = std::move(image_);
    } else {
        picture = fresh_page(image_.size());
        std::memcpy(picture.bits(), image_.constBits(), static_cast<std::size_t>(image_.sizeInBytes()));
    }
    image_ = QImage();  // so that writing into the picture copies nothing
    lent_ = false;
    const std::size_t row_bytes = std::size_t(picture.width()) * 4;
    for (int y = 0; y < picture.height(); ++y)
        if (const std::ptrdiff_t at = kept_at_[std::size_t(y)]; at >= 0)
            std::memcpy(picture.scanLine(y), kept_rows_.data() + at, row_bytes);
    image_ = picture;
    background_ = std::move(picture);
    kept_rows_.clear();
}

std::pair<int, int> PageSurface::ink_rows(int top) const {
    const int first = std::clamp(top - 2 * cell_height_, 0, image_.height());
    const int end = std::clamp(top + 3 * cell_height_, first, image_.height());
    return {first, end};
}

void PageSurface::keep_rows(int first, int end) {
    if (!lent_) return;
    const std::size_t row_bytes = std::size_t(image_.width()) * 4;
    for (int y = first; y < end; ++y) {
        std::ptrdiff_t& at = kept_at_[std::size_t(y)];
        if (at >= 0) continue;
        const uchar* row = image_.constScanLine(y);
        kept_rows_.insert(kept_rows_.end(), row, row + row_bytes);
        at = std::ptrdiff_t(kept_rows_.size() - row_bytes);
    }
}

void PageSurface::set_glyph_cache(bool on) { use_glyph_cache_ = on; }

namespace {

// Whole pixels up to a grid edge, forgiving the rounding of summed fractions.
int pixels_through(double edge) { return int(std::ceil(edge - 1e-6)); }
int pixels_before(double edge) { return int(std::floor(edge + 1e-6)); }

}  // namespace

PageSurface::CharFacts& PageSurface::facts(char16_t c) {
    if (chars_.empty()) chars_.assign(65536, CharFacts{});
    CharFacts& f = chars_[c];
    if (f.advance < 0) {
        f.missing = !ansi_representable(c);
        const char16_t shown = f.shown(c);
        f.halves = ansi_char_bytes(shown) == 2 ? 2 : 1;
        if (!metrics_) metrics_.emplace(font_);
        f.advance = float(metrics_->horizontalAdvance(QString(QChar(shown))));
    }
    return f;
}

void PageSurface::follow_codepage() {
    if (const unsigned now = ansi_codepage_generation(); chars_codepage_ != now) {
        chars_.clear();
        chars_codepage_ = now;
    }
}

void PageSurface::prepare() {
    constexpr char16_t kSample = u'\u4E00';
    follow_codepage();
    facts(kSample);
    if (use_glyph_cache_) {
        if (!glyph_cache_) glyph_cache_ = std::make_unique<GlyphCache>(font_);
        glyph_cache_->prepare(kSample);
    }
}

void PageSurface::print(int left, int top, const QString& line) {
    if (line.isEmpty()) return;
    const auto [ink_top, ink_end] = ink_rows(top);
    keep_rows(ink_top, ink_end);
    // Each character takes its own advance, but no more than its share of the
    // grid, and the pen never passes the grid's edge after it.
    QString shown = line;
    cell_ends_.resize(std::size_t(line.size()));
    glyph_places_.resize(std::size_t(line.size()));
    if (use_glyph_cache_ && !glyph_cache_) glyph_cache_ = std::make_unique<GlyphCache>(font_);
    GlyphCache* const cache = use_glyph_cache_ ? glyph_cache_.get() : nullptr;
    double grid = 0, pen = 0;
    bool natural = true;
    follow_codepage();
    for (qsizetype k = 0; k < line.size(); ++k) {
        const char16_t c = line[k].unicode();
        CharFacts& f = facts(c);
        if (f.missing) shown[k] = QChar(u'?');
        if (cache) {
            if (f.glyph == 0) f.glyph = cache->glyph_index(f.shown(c));
            glyph_places_[std::size_t(k)] = f.glyph;
        }
        const double share = (f.halves == 2 ? 1.0 : 0.5) * column_;
        const double a = f.advance;
        grid += share;
        const double end = std::min({pen + a, pen + pixels_through(share), double(pixels_through(grid))});
        if (end < pen + a) natural = false;
        pen = end;
        cell_ends_[std::size_t(k)] = pen;
    }
    if (!natural) {
        print_in_cells(left, top, shown);
        return;
    }
    const int right = left + pixels_through(grid);
    if (cache) {
        finish_drawing();
        if (cache->draw_glyphs(image_, left, top, shown, glyph_places_, text_colour_.rgb(), right)) return;
    }
    QPainter& p = painter();
    p.setClipRect(QRect(0, ink_top, right, ink_end - ink_top));
    p.drawText(QPoint(left, top + ascent_), shown);
    p.setClipping(false);
}

void PageSurface::print_in_cells(int left, int top, const QString& line) {
    if (!glyph_cache_) glyph_cache_ = std::make_unique<GlyphCache>(font_);
    finish_drawing();
    double start = 0;
    for (qsizetype k = 0; k < line.size(); ++k) {
        const double end = cell_ends_[std::size_t(k)];
        const int x0 = left + pixels_before(start), x1 = left + pixels_before(end);
        glyph_cache_->draw_in_cell(image_, x0, x1 - x0, top, line[k].unicode(), text_colour_.rgb());
        start = end;
    }
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
    if (write_page_file(bytes_of_name(path), bytes.constData(), std::size_t(bytes.size()), reason))
        return true;
    if (error) *error = QString::fromLocal8Bit(reason.c_str());
    return false;
}

}  // namespace pagiro
