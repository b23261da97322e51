#pragma once
// Drawing a typeset page onto a raster. Each cluster is drawn once by Qt (shaping
// and font fallback included) into a coverage mask, kept, and then put on every
// page at the positions the layout chose; a page is a few thousand mask copies.
#include "layout/page.h"
#include "layout/style.h"

#include <QFont>
#include <QHash>
#include <QImage>
#include <QString>
#include <array>
#include <memory>
#include <vector>

namespace pagiro::typeset {

struct RenderOptions {
    QRgb text = qRgb(0, 0, 0);
    QRgb background = qRgb(255, 255, 255);
    bool colour = false;     // false: an 8-bit grey page (colours taken by their luma)
    bool antialias = true;   // false: crisp 1-bit ink, coverage at or above `threshold`
    // Coverage that becomes ink. Low, because the hairline horizontals of a Song face
    // cover well under half a pixel at small sizes and would vanish at 128.
    int threshold = 64;
    // Above 1 thickens thin strokes (for e-ink): coverage c becomes c^(1/ink_weight).
    double ink_weight = 1.0;
};

// What the footer shows, when the style has one.
struct FooterInfo {
    int page_number = 0;
    int page_count = 0;      // 0 when not known yet: the number alone
};

class PageRenderer {
public:
    PageRenderer(const Style& style, const RenderOptions& options);
    ~PageRenderer();

    // A Format_Grayscale8 page, or Format_RGB32 when the options ask for colour.
    QImage render(const Page& page, const FooterInfo& footer = {});

    struct Mask {
        int left = 0, top = 0;  // from the pen position on the baseline
        int width = 0, height = 0;
        std::vector<std::uint8_t> coverage;  // after ink weight and threshold
    };

private:
    const Mask& mask(QStringView cluster, Face face);
    Mask rasterize(const QString& text, const QFont& font) const;
    void put(QImage& image, const Mask& mask, int x, int baseline) const;
    void draw_footer(QImage& image, const Page& page, const FooterInfo& footer);

    Style style_;
    RenderOptions options_;
    std::array<QFont, 2> fonts_;
    QFont footer_font_;
    std::array<std::uint8_t, 256> weight_{};  // coverage → coverage after ink weight and threshold
    // Masks by UTF-16 code unit for the common single-unit clusters, by text for the rest.
    std::array<std::vector<std::unique_ptr<Mask>>, 2> unit_masks_;
    std::array<QHash<QString, std::shared_ptr<Mask>>, 2> masks_;
};

}  // namespace pagiro::typeset
