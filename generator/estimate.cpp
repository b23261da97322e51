#include "estimate.h"

#include <cmath>

#include "generator/layout.h"
#include "generator/settings.h"
#include "platform/numbers.h"
#include "platform/text_view.h"

namespace pagiro {

std::optional<double> estpages(const QString& height, const QString& font_size, const QString& width,
                               qsizetype text_length) {
    if (!is_numeric(view(height)) || !is_numeric(view(font_size)) || !is_numeric(view(width))) return std::nullopt;
    const PageStyle style =
        classic_page_style(text_to_double(view(width)), text_to_double(view(height)), text_to_double(view(font_size)));
    return estimate_pages(style, text_length);
}

std::optional<double> typeset_estimate(const typeset::Style& style, qsizetype text_length) {
    const double em = style.font_pixels();
    const double per_line = std::floor(style.box_width() / em);
    const double lines = std::floor((style.box_height() - em) / (em * style.line_spacing)) + 1;
    if (per_line < 1 || lines < 1) return std::nullopt;
    return std::floor(static_cast<double>(text_length) / (per_line * lines));
}

std::optional<double> typeset_estpages(const QString& height, const QString& font_size, const QString& width,
                                       const QString& font, const TypesetRequest& request, qsizetype text_length) {
    if (!is_numeric(view(height)) || !is_numeric(view(font_size)) || !is_numeric(view(width))) return std::nullopt;
    const double w = text_to_double(view(width)), h = text_to_double(view(height));
    const double points = text_to_double(view(font_size));
    // Sizes a page cannot have (the run refuses them) make no estimate either.
    if (!(w >= 1 && w <= 65535 && h >= 1 && h <= 65535 && points > 0 && points <= 10000)) return std::nullopt;
    const typeset::Style style = typeset_style(request, w, h, font, points);
    if (!style.check().isEmpty()) return std::nullopt;
    return typeset_estimate(style, text_length);
}

}  // namespace pagiro
