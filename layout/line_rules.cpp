#include "layout/line_rules.h"

#include <QChar>
#include <algorithm>
#include <array>

namespace pagiro::typeset {
namespace {

constexpr std::array<char32_t, 67> no_start = {
    U'!', U'%', U')', U',', U'.', U':', U';', U'?', U']', U'}',
    U'\u00B7', U'\u00BB', U'\u2019', U'\u201D', U'\u2026', U'\u2025', U'\u203C', U'\u2047', U'\u2048', U'\u2049',
    U'\u2030', U'\u2032', U'\u2033', U'\u2103', U'\u3001', U'\u3002', U'\u3005', U'\u3009', U'\u300B', U'\u300D',
    U'\u300F', U'\u3011', U'\u3015', U'\u3017', U'\u3019', U'\u301B', U'\u301E', U'\u301F', U'\u303B', U'\u309D',
    U'\u309E', U'\u30FB', U'\u30FC', U'\u30FD', U'\u30FE', U'\uFE50', U'\uFE51', U'\uFE52', U'\uFE54', U'\uFE55',
    U'\uFE56', U'\uFE57', U'\uFE5A', U'\uFE5C', U'\uFE5E', U'\uFF01', U'\uFF05', U'\uFF09', U'\uFF0C', U'\uFF0E',
    U'\uFF1A', U'\uFF1B', U'\uFF1F', U'\uFF3D', U'\uFF5D', U'\uFF60', U'\uFF63'};

constexpr std::array<char32_t, 29> opening = {
    U'(', U'[', U'{', U'\u00AB', U'\u2018', U'\u201C', U'\u3008', U'\u300A', U'\u300C', U'\u300E',
    U'\u3010', U'\u3014', U'\u3016', U'\u3018', U'\u301A', U'\u301D', U'\uFE59', U'\uFE5B', U'\uFE5D', U'\uFF08',
    U'\uFF3B', U'\uFF5B', U'\uFF5F', U'\uFF62', U'\uFF04', U'\u00A3', U'\u00A5', U'\u20AC', U'\uFFE5'};

// Full-width closing marks; a half-width one or an ellipsis does not hang.
constexpr std::array<char32_t, 15> hanging = {
    U'\u3001', U'\u3002', U'\uFF0C', U'\uFF0E', U'\uFF1A', U'\uFF1B', U'\uFF01', U'\uFF1F', U'\uFF09',
    U'\u300D', U'\u300F', U'\u300B', U'\u3009', U'\u201D', U'\u2019'};

constexpr std::size_t longest_cluster = 32;

template <std::size_t N>
bool contains(const std::array<char32_t, N>& set, char32_t c) {
    return std::find(set.begin(), set.end(), c) != set.end();
}

bool extends_cluster(char32_t c) {
    if (c == 0x200D || (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF) || (c >= 0x1F3FB && c <= 0x1F3FF) ||
        (c >= 0xE0020 && c <= 0xE007F))
        return true;
    const QChar::Category cat = QChar::category(c);
    return cat == QChar::Mark_NonSpacing || cat == QChar::Mark_SpacingCombining || cat == QChar::Mark_Enclosing;
}

}  // namespace

bool is_no_start(char32_t c) { return contains(no_start, c); }
bool is_opening(char32_t c) { return contains(opening, c); }
bool may_hang(char32_t c) { return contains(hanging, c); }

bool is_cjk(char32_t c) {
    return (c >= 0x2E80 && c <= 0x2FDF) || (c >= 0x3005 && c <= 0x3007) || (c >= 0x3021 && c <= 0x3029) ||
           (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3131 && c <= 0x318F) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFF01 && c <= 0xFF60) || (c >= 0x20000 && c <= 0x3134F) || (c >= 0x3000 && c <= 0x303F);
}

bool is_line_break(char16_t c) { return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029; }

bool is_blank(char32_t c) { return c == U'\t' || QChar::category(c) == QChar::Separator_Space; }

char32_t code_point_at(QStringView text, std::size_t pos) {
    const char16_t high = text[pos].unicode();
    if (QChar::isHighSurrogate(high) && pos + 1 < static_cast<std::size_t>(text.size())) {
        const char16_t low = text[pos + 1].unicode();
        if (QChar::isLowSurrogate(low)) return QChar::surrogateToUcs4(high, low);
    }
    return high;
}

std::size_t cluster_end(QStringView text, std::size_t pos) {
    const std::size_t size = static_cast<std::size_t>(text.size());
    auto step = [&](std::size_t p) { return p + (code_point_at(text, p) > 0xFFFF ? 2 : 1); };
    std::size_t end = step(pos);
    bool regional = code_point_at(text, pos) >= 0x1F1E6 && code_point_at(text, pos) <= 0x1F1FF;
    // Real clusters are a few code units; a run of thousands of combining marks
    // is cut so that no cluster outgrows what a glyph records.
    const std::size_t limit = std::min(size, pos + longest_cluster);
    while (end < limit) {
        const char32_t c = code_point_at(text, end);
        if (c == 0x200D) {
            end = step(end);
            if (end < limit) end = step(end);  // the code point the joiner joins
        } else if (extends_cluster(c)) {
            end = step(end);
        } else if (regional && c >= 0x1F1E6 && c <= 0x1F1FF) {
            end = step(end);  // a flag is a pair of regional indicators
            regional = false;
        } else {
            break;
        }
    }
    return end;
}

}  // namespace pagiro::typeset
