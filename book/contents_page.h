#pragma once
// The contents pages of a book: after its first page, every chapter with the page it
// starts on, set in the book's own style. A typeset book gets typeset pages (its face,
// margins and line pitch, the heading "目录" centred as a chapter heading is, then a
// line a chapter: the name, a leader of "…", the page number flush right); a book of
// classic pages gets lines of its character grid, drawn like any other page.
//
// Each chapter takes exactly one line (a name too long for it is cut and ends in
// "…"), so the number of contents pages depends only on the number of chapters: a run
// counts them first and then numbers the pages that follow them.
#include <QString>
#include <string>
#include <vector>

#include "layout/measure.h"
#include "layout/page.h"
#include "layout/style.h"

namespace pagiro {

struct ContentsEntry {
    QString title;
    int page = 0;  // as the reader counts the book's pages, from 1
};

inline constexpr char16_t kContentsHeading[] = u"目录";

// The contents pages of a typeset book; none when there are no chapters.
std::vector<typeset::Page> typeset_contents(const std::vector<ContentsEntry>& entries, const typeset::Style& style,
                                            typeset::Measurer& measurer);

// The contents pages of a classic book, `lines` lines of `columns` columns each;
// `columns_of` says how many columns a character takes. None when there are no
// chapters.
using ContentsPage = std::vector<std::u16string>;
std::vector<ContentsPage> classic_contents(const std::vector<ContentsEntry>& entries, int columns, int lines,
                                           double (*columns_of)(char16_t));

}  // namespace pagiro
