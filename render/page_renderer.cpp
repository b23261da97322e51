#include "render/page_renderer.h"

#include "layout/qt_measurer.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace pagiro::typeset {
namespace {

int luma(QRgb c) { return (qRed(c) * 299 + qGreen(c) * 587 + qBlue(c) * 114 + 500) / 1000; }

// a over b with coverage a_cov (0…255).
inline std::uint8_t blend(std::uint8_t under, std::uint8_t ink, std::uint8_t cov) {
    return static_cast<std::uint8_t>((under * (255 - cov) + ink * cov + 127) / 255);
}

}  // namespace

PageRenderer::PageRenderer(const Style& style, const RenderOptions& options) : style_(style), options_(options) {
    fonts_[0] = face_font(style, Face::body);
    fonts_[1] = face_font(style, Face::heading);
    footer_font_ = footer_font(style);
    for (auto& table : unit_masks_) table.resize(0x10000);
    const double weight = options.ink_weight > 0 ? options.ink_weight : 1.0;
    for (int c = 0; c < 256; ++c) {
        double v = 255.0 * std::pow(c / 255.0, 1.0 / weight);
        if (!options.antialias) v = c >= options.threshold ? 255 : 0;
        weight_[c] = static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
}

PageRenderer::~PageRenderer() = default;

PageRenderer::Mask PageRenderer::rasterize(const QString& text, const QFont& font) const {
    const QFontMetricsF fm(font);
    // Room for strokes that reach past the advance and the ascent or descent.
    const int pad = font.pixelSize();
    const int w = static_cast<int>(std::ceil(fm.horizontalAdvance(text))) + 2 * pad;
    const int h = static_cast<int>(std::ceil(fm.ascent() + fm.descent())) + 2 * pad;
    QImage canvas(std::max(w, 1), std::max(h, 1), QImage::Format_Alpha8);
    canvas.fill(0);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QPointF(pad, pad + fm.ascent()), text);
    }
    int x0 = canvas.width(), y0 = canvas.height(), x1 = -1, y1 = -1;
    for (int y = 0; y < canvas.height(); ++y) {
        const uchar* row = canvas.constScanLine(y);
        for (int x = 0; x < canvas.width(); ++x)
            if (weight_[row[x]]) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    }
    Mask mask;
    if (x1 < 0) return mask;  // a blank: nothing to draw
    mask.left = x0 - pad;
    mask.top = y0 - pad - static_cast<int>(std::lround(fm.ascent()));
    mask.width = x1 - x0 + 1;
    mask.height = y1 - y0 + 1;
    mask.coverage.resize(static_cast<std::size_t>(mask.width) * mask.height);
    for (int y = 0; y < mask.height; ++y) {
        const uchar* row = canvas.constScanLine(y0 + y) + x0;
        for (int x = 0; x < mask.width; ++x) mask.coverage[static_cast<std::size_t>(y) * mask.width + x] = weight_[row[x]];
    }
    return mask;
}

const PageRenderer::Mask& PageRenderer::mask(QStringView cluster, Face face) {
    const int f = static_cast<int>(face);
    if (cluster.size() == 1) {
        std::unique_ptr<Mask>& known = unit_masks_[f][cluster.front().unicode()];
        if (!known) known = std::make_unique<Mask>(rasterize(cluster.toString(), fonts_[f]));
        return *known;
    }
    const QString key = cluster.toString();
    auto it = masks_[f].constFind(key);
    if (it == masks_[f].constEnd()) it = masks_[f].insert(key, std::make_shared<Mask>(rasterize(key, fonts_[f])));
    return **it;
}

void PageRenderer::put(QImage& image, const Mask& m, int x, int baseline) const {
    const int left = x + m.left, top = baseline + m.top;
    const int from_x = std::max(0, -left), to_x = std::min(m.width, image.width() - left);
    const int from_y = std::max(0, -top), to_y = std::min(m.height, image.height() - top);
    if (options_.colour) {
        const QRgb ink = options_.text;
        for (int y = from_y; y < to_y; ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(top + y)) + left;
            const std::uint8_t* cov = m.coverage.data() + static_cast<std::size_t>(y) * m.width;
            for (int i = from_x; i < to_x; ++i) {
                if (!cov[i]) continue;
                const QRgb under = row[i];
                row[i] = qRgb(blend(qRed(under), qRed(ink), cov[i]), blend(qGreen(under), qGreen(ink), cov[i]),
                              blend(qBlue(under), qBlue(ink), cov[i]));
            }
        }
        return;
    }
    const auto ink = static_cast<std::uint8_t>(luma(options_.text));
    for (int y = from_y; y < to_y; ++y) {
        uchar* row = image.scanLine(top + y) + left;
        const std::uint8_t* cov = m.coverage.data() + static_cast<std::size_t>(y) * m.width;
        for (int i = from_x; i < to_x; ++i)
            if (cov[i]) row[i] = blend(row[i], ink, cov[i]);
    }
}

void PageRenderer::draw_footer(QImage& image, const Page& page, const FooterInfo& footer) {
    QString text;
    if (style_.footer == FooterKind::page_number) {
        text = footer.page_count > 0 ? QStringLiteral("%1 / %2").arg(footer.page_number).arg(footer.page_count)
                                     : QString::number(footer.page_number);
    } else if (style_.footer == FooterKind::chapter_title) {
        text = QFontMetricsF(footer_font_).elidedText(page.chapter_title, Qt::ElideRight, style_.box_width());
    }
    if (text.isEmpty()) return;
    const Mask m = rasterize(text, footer_font_);
    const QFontMetricsF fm(footer_font_);
    const double width = fm.horizontalAdvance(text);
    const int x = static_cast<int>(std::lround(style_.left() + (style_.box_width() - width) / 2));
    // Centred in the bottom margin.
    const double cell = fm.ascent() + fm.descent();
    const int baseline =
        static_cast<int>(std::lround(style_.page_height - style_.bottom() + (style_.bottom() - cell) / 2 + fm.ascent()));
    put(image, m, x, baseline);
}

QImage PageRenderer::render(const Page& page, const FooterInfo& footer) {
    QImage image(style_.page_width, style_.page_height,
                 options_.colour ? QImage::Format_RGB32 : QImage::Format_Grayscale8);
    if (options_.colour)
        image.fill(options_.background);
    else
        image.fill(static_cast<uint>(luma(options_.background)));
    for (const Line& line : page.lines) {
        const int baseline = static_cast<int>(std::lround(line.baseline));
        for (std::uint32_t g = line.first_glyph; g < line.first_glyph + line.glyph_count; ++g) {
            const Glyph& glyph = page.glyphs[g];
            const Mask& m = mask(QStringView(line.text).mid(glyph.offset - line.begin, glyph.length), line.face);
            // Down to the pixel, so that a line justified to the right edge never
            // reaches past it.
            if (!m.coverage.empty()) put(image, m, static_cast<int>(std::floor(glyph.x + 0.001)), baseline);
        }
    }
    if (style_.footer != FooterKind::none) draw_footer(image, page, footer);
    return image;
}

}  // namespace pagiro::typeset
