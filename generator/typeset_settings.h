#pragma once
// What a run needs beyond the classic settings to make typeset pages, and the
// choice between the two layouts. The command line fills them in from its
// options, the window from its side panel.
#include <QString>
#include <optional>

#include "layout/style.h"
#include "render/png_writer.h"

namespace pagiro {

enum class LayoutMode {
    classic,  // the fixed character grid of the player pages, byte for byte as always
    typeset,  // measured text, Chinese line breaking, justified lines, antialiased
};

// The page typeset pages get when nothing else is said, on the command line and
// in the window alike (the face is typeset::default_family).
inline constexpr int kTypesetPageWidth = 480;
inline constexpr int kTypesetPageHeight = 800;
inline constexpr double kTypesetPoints = 16;

// What each typeset setting may be, wherever it is given.
struct SettingBounds {
    double low, high;
};
inline constexpr SettingBounds kMarginBounds{0, 10000};         // pixels
inline constexpr SettingBounds kLineSpacingBounds{0.5, 10};     // font sizes
inline constexpr SettingBounds kParagraphSpacingBounds{0, 10};  // ems
inline constexpr SettingBounds kIndentBounds{0, 10};            // ems
inline constexpr SettingBounds kInkWeightBounds{0.1, 10};

struct TypesetRequest {
    // Margins, spacing, headings and footer. The page size, face and font size
    // are the run's own settings and are filled in when the run reads them.
    typeset::Style style;
    std::optional<QString> chapter_pattern;  // replaces the built-in heading rule
    bool mono = false;                       // crisp 1-bit ink instead of antialiased grey
    double ink_weight = 1.0;                 // above 1 darkens thin strokes (e-ink)
    int grey_levels = 256;                   // what the screen shows: 2, 4 or 256 (and 16, kept as 256)
    QString dump_layout;                     // the layout dump's file; empty for none
};

// What a book file (xtc, xtch, cbz) says about itself, and what it holds besides
// the text's pages.
struct BookRequest {
    QString name;    // the book file's name without its extension; empty: from the title
    QString title;   // empty: the name, and "电子书" when there is none either
    QString author;  // empty: none
    bool contents = true;                      // contents pages after the first page
    QString page_format = QStringLiteral("png");  // a comic book's pages: png or jpg
};

// The layout and the settings that go with it beyond the classic controls.
struct PageOptions {
    LayoutMode layout = LayoutMode::classic;
    TypesetRequest typeset;
    // Whether a GIF page's background is marked transparent; nothing for the
    // layout's default (transparent for classic pages, opaque for typeset ones).
    std::optional<bool> gif_transparent;
    BookRequest book;  // read only when the format is a book
};

}  // namespace pagiro
