#pragma once
// The page formats, one row each: what the format is called, the file extension,
// what draws its pages, when the run reports progress, and how a drawn page
// becomes the file's bytes. Adding a format is one row here and one encoder.
#include <QByteArray>
#include <QImage>
#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace pagiro {

struct RunSettings;

// What a format's pages are drawn on.
enum class Canvas {
    surface,        // the picture surface `gentp`
    gif_component,  // the GIF page component ("XY.Graphics"), a new picture per page
    typeset,        // the typeset page renderer
};

// When the run names the page and reports progress, which also sets the order of
// the message pump around it: at the start of each page (then a pump), or before
// each line (the page start has only the pump).
enum class ProgressAt { page_start, every_line };

// Where a run's pages go: loose page files, or one book file that holds them all.
enum class BookKind {
    none,  // loose page files, numbered
    xtc,   // an Xteink book of 1-bit pages
    xtch,  // an Xteink book of 2-bit pages
    cbz,   // a comic book archive of PNG or JPEG pages
};

struct PageFormat {
    const char16_t* extension;  // also the entry in the window's list: ".jpg"
    const char* name;           // the command line's --format: "jpg"
    Canvas canvas;
    ProgressAt progress;
    // Runs on a worker thread. Nothing (and `reason`) when the page cannot be
    // encoded; the encoder classes may throw their own errors.
    std::optional<QByteArray> (*encode)(const QImage& page, const RunSettings& settings, QString* reason);
    // The encoder takes an 8-bit grey page as well as a colour one (typeset PNG),
    // so grey pages need not be drawn in colour first.
    bool takes_grey;
    // The largest page the file can hold: pixels each way (the header's 16-bit
    // fields), or, where the header counts the file's bytes instead, those bytes.
    // 0 where the other bound applies.
    std::uint32_t max_side;
    std::uint64_t max_file_bytes;
    // The file's size for a page of w × h pixels when the size fixes it (0 otherwise).
    std::uint64_t (*file_bytes)(std::uint64_t w, std::uint64_t h);
    // What a page holds in memory from the moment it is handed over until its file
    // is written, beyond its own pixels: the encoder's working arrays and the file.
    std::uint64_t (*encoding_bytes)(std::uint64_t w, std::uint64_t h);
    // Set for the formats whose pages go into one book file; the book's writer packs
    // or stores the pages, and `encode` is not used.
    BookKind book = BookKind::none;
};

// The classic pages' formats: the window's list.
std::span<const PageFormat> page_formats();
// The formats of typeset pages (png, jpg, gif, bmp), by the same extensions.
std::span<const PageFormat> typeset_page_formats();
// The book formats (xtc, xtch, cbz): one file per text, classic or typeset pages
// inside. Lists of formats show them after the page formats.
std::span<const PageFormat> book_formats();
// Every format a run can write, once each by extension, as the window lists them:
// the classic pages' first, in their order, then those only typeset pages are
// written in, then the books.
std::vector<const PageFormat*> listed_formats();
// Whether classic pages can be written in the format of this extension (a book's too).
bool classic_format(const QString& extension);
// The format a device's pages are written in: its own (`device_format`, a name
// such as "jpg" or "xtch") where the layout's pages can be; otherwise PNG for
// typeset pages and nothing for classic ones.
const PageFormat* device_page_format(std::string_view device_format, bool typeset);
// The format of this extension (".jpg", or a book's ".xtch"); nothing for any other text.
const PageFormat* find_format(const QString& extension);
// The format of this command-line name ("jpg", ".jpg", "xtch", any case).
const PageFormat* find_format_by_name(const QString& name);
// The same two for typeset pages (the book formats included).
const PageFormat* find_typeset_format(const QString& extension);
const PageFormat* find_typeset_format_by_name(const QString& name);

}  // namespace pagiro
