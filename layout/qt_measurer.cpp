#include "layout/qt_measurer.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainterPath>
#include <QTextLayout>

#include <cmath>

namespace pagiro::typeset {

QString resolved_family(const QString& wanted) {
    const QStringList installed = QFontDatabase::families();
    if (installed.contains(wanted)) return wanted;
    const QString fallback = QString::fromLatin1(fallback_family);
    if (installed.contains(fallback)) return fallback;
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    return chinese.isEmpty() ? wanted : chinese.first();
}

namespace {

QFont make_font(const Style& style, int pixels, bool bold) {
    QFont font(resolved_family(style.font_family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    // Pages are laid out from per-cluster advances; kerning would make Qt's
    // drawing of a word disagree with them.
    font.setKerning(false);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

}  // namespace

QFont face_font(const Style& style, Face face) {
    return face == Face::heading ? make_font(style, style.heading_pixels(), true)
                                 : make_font(style, style.font_pixels(), false);
}

QFont footer_font(const Style& style) { return make_font(style, style.footer_pixels(), false); }

QtMeasurer::QtMeasurer(const Style& style) {
    for (int f = 0; f < faces; ++f) {
        fonts_[f] = face_font(style, static_cast<Face>(f));
        const QFontMetricsF fm(fonts_[f]);
        metrics_[f] = {fm.ascent(), fm.descent(), static_cast<double>(fonts_[f].pixelSize())};
        bmp_[f].assign(0x10000, -1.0f);
        bmp_overhangs_[f].assign(0x10000, Overhang{-1, 0});
    }
}

double QtMeasurer::advance(QStringView cluster, Face face) {
    const int f = static_cast<int>(face);
    if (cluster.size() == 1) {
        float& known = bmp_[f][cluster.front().unicode()];
        if (known < 0) known = static_cast<float>(QFontMetricsF(fonts_[f]).horizontalAdvance(cluster.toString()));
        return known;
    }
    const QString key = cluster.toString();
    auto it = other_[f].constFind(key);
    if (it != other_[f].constEnd()) return *it;
    const double width = QFontMetricsF(fonts_[f]).horizontalAdvance(key);
    other_[f].insert(key, width);
    return width;
}

FaceMetrics QtMeasurer::metrics(Face face) { return metrics_[static_cast<int>(face)]; }

Overhang QtMeasurer::overhang(QStringView cluster, Face face) {
    const int f = static_cast<int>(face);
    if (cluster.size() == 1) {
        Overhang& known = bmp_overhangs_[f][cluster.front().unicode()];
        if (known.left < 0) known = measure_overhang(cluster, face);
        return known;
    }
    const QString key = cluster.toString();
    auto it = overhangs_[f].constFind(key);
    if (it != overhangs_[f].constEnd()) return *it;
    const Overhang result = measure_overhang(cluster, face);
    overhangs_[f].insert(key, result);
    return result;
}

Overhang QtMeasurer::measure_overhang(QStringView cluster, Face face) {
    const int f = static_cast<int>(face);
    const QString key = cluster.toString();
    // Whole pixels, since antialiasing spreads a fractional edge into the next
    // pixel; a glyph whose outline touches its box edge only through rounding
    // noise does not overhang.
    constexpr double noise = 0.05;
    // The outline's exact bounds: Qt's bounding rectangles are rounded out to pixels.
    QPainterPath outline;
    outline.addText(0, 0, fonts_[f], key);
    const QRectF ink = outline.boundingRect();
    const double advance = this->advance(cluster, face);
    Overhang result;
    if (!ink.isEmpty()) {
        if (-ink.left() > noise) result.left = std::ceil(-ink.left());
        if (ink.right() - advance > noise) result.right = std::ceil(ink.right() - advance);
    }
    return result;
}

QtMeasurer::Shape QtMeasurer::shape(QStringView cluster, Face face) const {
    QTextLayout layout(cluster.toString(), fonts_[static_cast<int>(face)]);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    Shape result{0, true};
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QList<quint32> indexes = run.glyphIndexes();
        result.glyphs += static_cast<int>(indexes.size());
        for (quint32 index : indexes)
            if (index == 0) result.all_found = false;  // glyph 0 is the font's "missing" box
    }
    return result;
}

}  // namespace pagiro::typeset
