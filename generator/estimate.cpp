#include "estimate.h"

#include <cmath>

#include "platform/numbers.h"

namespace pagiro {
namespace {
std::u16string_view view(const QString& s) { return {reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size())}; }
}  // namespace

std::optional<double> estpages(const QString& height, const QString& font_size, const QString& width,
                               qsizetype text_length) {
    if (!is_numeric(view(height)) || !is_numeric(view(font_size)) || !is_numeric(view(width))) return std::nullopt;
    double h = text_to_double(view(height));
    double s = text_to_double(view(font_size));
    double w = text_to_double(view(width));
    double em = s * 4 / 3;
    if (em == 0 || em + 1 == 0) return std::nullopt;
    double lpp = std::floor((h - 4) / (em + 1));
    double cpl = std::floor((w - 4) / em);
    double per_page = cpl * lpp;
    if (per_page == 0 || !std::isfinite(per_page)) return std::nullopt;
    double pages = std::floor(static_cast<double>(text_length) / per_page);
    if (!std::isfinite(pages)) return std::nullopt;
    return pages;
}

}  // namespace pagiro
