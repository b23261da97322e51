#pragma once
// A run's settings as values: the host's control texts are read once, at the
// start of the run, in the order the run has always read them (so the first
// setting found wrong is the one reported), and the rest of the run reads only
// this value.
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "generator/formats.h"
#include "generator/host.h"
#include "generator/layout.h"
#include "generator/typeset_settings.h"
#include "layout/chapter.h"

namespace pagiro {

// A run whose pages go into one book file.
struct BookSettings {
    QString title;   // never empty
    QString author;
    QString file;    // the book file's name in the output folder, with its extension
    bool contents = true;
    // A comic book's page format (a row of the typeset or the classic table, png or
    // jpg); nothing for the Xteink books, whose pages the writer packs.
    const PageFormat* page_format = nullptr;
};

struct RunSettings {
    QString text;              // s_text, line breaks as CR LF
    QString prefix;            // c_fjqz, checked: no path separators or control characters
    QString output_folder;     // c_ml, as typed (a trailing separator is kept)
    double first_page_value = 0;   // c_qm as typed: the progress percentage counts from it
    std::int16_t first_page = 0;   // c_qm rounded: the number of the first page
    double width = 0;              // c_tk, pixels
    double height = 0;             // c_tg, pixels
    QString font;              // c_font, as asked for (the surface falls back when missing)
    double font_size = 0;          // c_fontsize, points
    std::uint32_t text_colour = 0;        // c_wzcolor, 0x00BBGGRR
    std::uint32_t background_colour = 0;  // c_bjcolor, 0x00BBGGRR
    QString background_picture;       // c_bjtp trimmed; empty for none
    const PageFormat* format = nullptr;         // v_tpks
    bool drop_empty_lines = false;            // qckh
    bool clean_stale_pages = false;           // remove an earlier run's pages past this run's end
    std::optional<double> volume_pages;  // zdfj1 when zdfj is ticked: pages per volume folder
    PageStyle style;                     // where the lines go
    std::optional<double> estimate;      // pages the text should make; nothing when no character fits
    LayoutMode layout = LayoutMode::classic;
    bool gif_transparent = true;         // a GIF page's background colour is marked transparent
    // Typeset pages only: the request with the page size, face and font size
    // filled in, the heading rule, and what the PNG pages hold.
    TypesetRequest typeset;
    typeset::ChapterRule chapter_rule;
    typeset::PngKind png_kind = typeset::PngKind::grey8;
    std::optional<BookSettings> book;    // set when the format is a book
    // The format the pages are encoded in: the run's own, or a comic book's pages'.
    const PageFormat& page_encoding() const { return book && book->page_format ? *book->page_format : *format; }
};

// A step the run takes between two settings, exactly where it always has: the
// output folder is made as soon as it is known (before any number is checked).
struct SettingsSteps {
    std::function<void(const QString& folder)> output_folder_known;
};

// Throws RunFailure for the first setting that cannot make a run.
RunSettings read_run_settings(const RunHost& host, const SettingsSteps& steps);

// The style of typeset pages: the request's with the run's page size, face and
// font size.
typeset::Style typeset_style(const TypesetRequest& request, double width, double height, const QString& font,
                             double font_size);

// The number the first page will carry, for the page counter before anything of
// a run can fail: the first page number rounded to 16 bits; as typed when it does
// not fit, and 0 when it is no number. Either way a run that fails before its
// first page counts none.
double first_page_number(const RunHost& host);

// What is wrong with a file-name prefix, if anything. It must keep every page
// inside the output folder and make names a phone's memory card can hold (no path
// separator, none of : * ? " < > | and no control character), and it must not make
// hidden files that a photo album does not list (a leading ".").
enum class PrefixFault { none, unsafe_character, hidden };
PrefixFault prefix_fault(const QString& prefix);

// A book's file name made from a title: characters a file name or a memory card
// cannot hold become "_", leading dots and blanks go, and a long title is cut.
// "电子书" when nothing is left.
QString book_file_stem(const QString& title);

}  // namespace pagiro
