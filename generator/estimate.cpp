#include "estimate.h"

#include "generator/layout.h"
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

}  // namespace pagiro
