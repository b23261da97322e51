#pragma once
// The character classes line breaking needs beyond the Unicode line-break
// opportunities: Chinese line-start and line-end prohibitions, marks that may
// hang into the margin, and what counts as a cluster.
#include <QStringView>
#include <cstddef>

namespace pagiro::typeset {

// Closing punctuation and marks that must not begin a line (，。、；：？！）」』》”’… …).
bool is_no_start(char32_t c);
// Opening punctuation that must not end a line (（「『《“‘ …).
bool is_opening(char32_t c);
// A closing mark that may stand in the right margin instead of starting the next line.
bool may_hang(char32_t c);
// Han ideographs, kana, Hangul and full-width forms: the text a first-line indent is for.
bool is_cjk(char32_t c);
bool is_line_break(char16_t c);
bool is_blank(char32_t c);

// The first code point at `pos` (a lone surrogate stands for itself).
char32_t code_point_at(QStringView text, std::size_t pos);
// End of the cluster that begins at `pos`: a code point with its combining marks,
// variation selectors and emoji modifiers, and code points joined to it by ZWJ.
std::size_t cluster_end(QStringView text, std::size_t pos);

}  // namespace pagiro::typeset
