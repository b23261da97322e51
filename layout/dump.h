#pragma once
// The layout dump: one JSON object a line for every line of body text on a page
// (headings included, footers not), for checking a book and for tests:
//   {"page": 1, "line": 1, "x": 29, "y": 29, "width": 422, "text": "…"}
// x, y and width are whole pixels; width runs from the line's first glyph to the
// end of its last visible one. Trailing blanks are left out of the text.
#include "layout/page.h"

#include <QByteArray>

namespace pagiro::typeset {

// The dump lines of one page (UTF-8, each ending in a newline); `page_number`
// counts from 1.
QByteArray dump_page(const Page& page, int page_number);

}  // namespace pagiro::typeset
