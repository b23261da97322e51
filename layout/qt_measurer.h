#pragma once
// Widths from the installed fonts through Qt's text shaping, with Qt's font
// fallback for characters the chosen face lacks. Advances are cached per
// cluster and face: a novel uses a few thousand distinct characters, so nearly
// every question after the first pages is a table look-up.
#include "layout/measure.h"
#include "layout/style.h"

#include <QFont>
#include <QHash>
#include <array>
#include <vector>

namespace pagiro::typeset {

// The font a face is set in; the renderer draws with the same one.
QFont face_font(const Style& style, Face face);
QFont footer_font(const Style& style);
// The style's family when installed, else the fallback face, else the first
// installed Simplified Chinese family.
QString resolved_family(const QString& wanted);

class QtMeasurer : public Measurer {
public:
    explicit QtMeasurer(const Style& style);

    double advance(QStringView cluster, Face face) override;
    FaceMetrics metrics(Face face) override;
    Overhang overhang(QStringView cluster, Face face) override;

    // Glyphs Qt shapes the cluster into (1 for a character outside the BMP) and
    // whether each was found in some installed font.
    struct Shape {
        int glyphs = 0;
        bool all_found = false;
    };
    Shape shape(QStringView cluster, Face face) const;

private:
    Overhang measure_overhang(QStringView cluster, Face face);

    static constexpr int faces = 2;
    std::array<QFont, faces> fonts_;
    std::array<FaceMetrics, faces> metrics_;
    std::array<std::vector<float>, faces> bmp_;     // by code unit; negative: not yet measured
    std::array<QHash<QString, double>, faces> other_;
    std::array<std::vector<Overhang>, faces> bmp_overhangs_;  // left negative: not yet measured
    std::array<QHash<QString, Overhang>, faces> overhangs_;
};

}  // namespace pagiro::typeset
