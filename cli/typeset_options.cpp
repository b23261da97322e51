#include "cli/typeset_options.h"

#include <QStringList>
#include <cmath>
#include <cstdio>

#include "cli/usage.h"
#include "layout/chapter.h"
#include "generator/formats.h"
#include "generator/settings.h"
#include "platform/numbers.h"
#include "platform/text_view.h"
#include "render/devices.h"

namespace pagiro {
namespace {

// Which runs take an option; it is refused with the others.
enum class For { any, typeset, book, cbz };

struct OptionRow {
    const char* name;
    const char* value;    // nothing for a switch
    For only;
};

constexpr OptionRow kOptions[] = {
    {"layout", "MODE", For::any},
    {"device", "NAME", For::any},
    {"list-devices", nullptr, For::any},
    {"gif-background", "MODE", For::any},
    {"margin", "PX", For::typeset},
    {"margin-left", "PX", For::typeset},
    {"margin-right", "PX", For::typeset},
    {"margin-top", "PX", For::typeset},
    {"margin-bottom", "PX", For::typeset},
    {"line-spacing", "X", For::typeset},
    {"paragraph-spacing", "X", For::typeset},
    {"indent", "EMS", For::typeset},
    {"chapter-pages", nullptr, For::typeset},
    {"no-chapter-pages", nullptr, For::typeset},
    {"chapter-pattern", "REGEX", For::typeset},
    {"footer", "KIND", For::typeset},
    {"render", "MODE", For::typeset},
    {"ink-weight", "X", For::typeset},
    {"dump-layout", "FILE", For::typeset},
    {"title", "TEXT", For::book},
    {"author", "TEXT", For::book},
    {"toc", nullptr, For::book},
    {"no-toc", nullptr, For::book},
    {"page-format", "FORMAT", For::cbz},
};

// Options of loose page files (cli.cpp reads them) that a book, one file whose pages
// count from 1, has no use for.
constexpr const char* kLoosePageOptions[] = {"prefix", "first", "volume-pages", "clean"};

const char* kUsage =
    "\n"
    "Typeset pages (measured text, Chinese line breaking, justified lines, antialiased):\n"
    "  --layout classic|typeset    classic (default): the fixed character grid; typeset: pages for\n"
    "                              today's screens (default 480 x 800, Noto Serif CJK SC 16 pt, png)\n"
    "  --device NAME               page size, font size, grey levels and format of a device\n"
    "                              (options given beside it win); --list-devices prints the table\n"
    "  --margin PX                 all four margins (default: 6% of the shorter page side);\n"
    "  --margin-left/-right/-top/-bottom PX   one of them\n"
    "  --line-spacing X            line pitch in font sizes (default: 1.5)\n"
    "  --paragraph-spacing X       extra space after a paragraph, in ems (default: 0)\n"
    "  --indent EMS                first-line indent of a Chinese paragraph (default: 2)\n"
    "  --chapter-pages, --no-chapter-pages   a chapter heading starts a new page (default: on)\n"
    "  --chapter-pattern REGEX     what a chapter heading is, instead of the built-in rule\n"
    "  --footer none|page|chapter  page number and total, or the chapter title (default: none)\n"
    "  --render grey|mono          antialiased grey (default) or crisp 1-bit ink\n"
    "  --ink-weight X              above 1 darkens thin strokes, for e-ink (default: 1)\n"
    "  --format png|jpg|gif|bmp    png (default): grey, or colour for colours; jpg: grey JPEG\n"
    "  --gif-background opaque|transparent   (default: transparent for classic, opaque for typeset)\n"
    "  --dump-layout FILE          every page's lines as JSON, one object a line (a book's contents\n"
    "                              pages included)\n"
    "\n"
    "Books (one file per text in the output folder, named after --title or the text file):\n"
    "  --format xtc|xtch|cbz       xtc: Xteink book of 1-bit pages; xtch: 2-bit, four greys; cbz: comic\n"
    "                              book archive. Typeset pages by default (480 x 800, 16 pt; the classic\n"
    "                              grid with --layout classic). --device xteink-x4 writes xtch.\n"
    "  --title TEXT                the book's title (default: the text file's name without extension;\n"
    "                              电子书 when there is none)\n"
    "  --author TEXT               the book's author (default: none)\n"
    "  --toc, --no-toc             contents pages after the first page, listing the chapters with\n"
    "                              their page numbers (default: on)\n"
    "  --page-format png|jpg       cbz: the pages' format (default: png; jpg: our JPEG encoder)\n"
    "  With several text files, each book is DIR/<text file's name>.<ext>; --jobs N makes N side by side.\n";

QString value_of(const QCommandLineParser& parser, const char* name) { return parser.value(QLatin1String(name)); }
bool given(const QCommandLineParser& parser, const char* name) { return parser.isSet(QLatin1String(name)); }

// One of `choices`, by its position.
int choice(const QCommandLineParser& parser, const char* name, const QStringList& choices) {
    const QString value = value_of(parser, name);
    const qsizetype at = choices.indexOf(value.toLower());
    if (at < 0) {
        QStringList shown = choices;
        const QString last = shown.takeLast();
        throw UsageError{QStringLiteral("--%1 must be %2 or %3, not \"%4\"")
                             .arg(QLatin1String(name), shown.join(QStringLiteral(", ")), last, value)};
    }
    return static_cast<int>(at);
}

double number(const QCommandLineParser& parser, const char* name, double low, double high, bool whole_only) {
    const QString value = value_of(parser, name);
    const double v = is_numeric(view(value)) ? text_to_double(view(value)) : NAN;
    if (!(v >= low && v <= high) || (whole_only && v != std::floor(v)))
        throw UsageError{QStringLiteral("--%1 must be a%2 number from %3 to %4, not \"%5\"")
                             .arg(QLatin1String(name), whole_only ? QStringLiteral(" whole") : QString())
                             .arg(low)
                             .arg(high)
                             .arg(value)};
    return v;
}

void read_margins(const QCommandLineParser& parser, typeset::Style& style) {
    const auto margin = [&](const char* name) {
        return static_cast<int>(number(parser, name, kMarginBounds.low, kMarginBounds.high, true));
    };
    if (given(parser, "margin"))
        style.margin_left = style.margin_right = style.margin_top = style.margin_bottom = margin("margin");
    if (given(parser, "margin-left")) style.margin_left = margin("margin-left");
    if (given(parser, "margin-right")) style.margin_right = margin("margin-right");
    if (given(parser, "margin-top")) style.margin_top = margin("margin-top");
    if (given(parser, "margin-bottom")) style.margin_bottom = margin("margin-bottom");
}

TypesetRequest read_request(const QCommandLineParser& parser, const typeset::DevicePreset* device) {
    TypesetRequest r;
    typeset::Style& style = r.style;
    read_margins(parser, style);
    if (given(parser, "line-spacing")) style.line_spacing = number(parser, "line-spacing", kLineSpacingBounds.low, kLineSpacingBounds.high, false);
    if (given(parser, "paragraph-spacing")) style.paragraph_spacing = number(parser, "paragraph-spacing", kParagraphSpacingBounds.low, kParagraphSpacingBounds.high, false);
    if (given(parser, "indent")) style.indent_ems = number(parser, "indent", kIndentBounds.low, kIndentBounds.high, false);
    if (given(parser, "chapter-pages") && given(parser, "no-chapter-pages"))
        throw UsageError{QStringLiteral("--chapter-pages and --no-chapter-pages cannot both be given")};
    style.heading_new_page = !given(parser, "no-chapter-pages");
    if (given(parser, "chapter-pattern")) {
        QString error;
        if (!typeset::ChapterRule::from_pattern(value_of(parser, "chapter-pattern"), error))
            throw UsageError{QStringLiteral("--chapter-pattern is not a usable regular expression: %1").arg(error)};
        r.chapter_pattern = value_of(parser, "chapter-pattern");
    }
    if (given(parser, "footer")) {
        constexpr typeset::FooterKind kinds[] = {typeset::FooterKind::none, typeset::FooterKind::page_number,
                                                 typeset::FooterKind::chapter_title};
        style.footer = kinds[choice(parser, "footer", {"none", "page", "chapter"})];
    }
    if (given(parser, "render")) r.mono = choice(parser, "render", {"grey", "mono"}) == 1;
    if (given(parser, "ink-weight")) r.ink_weight = number(parser, "ink-weight", kInkWeightBounds.low, kInkWeightBounds.high, false);
    if (given(parser, "dump-layout")) {
        r.dump_layout = value_of(parser, "dump-layout");
        if (r.dump_layout.isEmpty()) throw UsageError{QStringLiteral("--dump-layout needs a file name")};
    }
    if (device) r.grey_levels = typeset::page_grey_levels(*device);
    return r;
}

// The page size and font size of a device, or of typeset pages and books, where the
// user gave none.
void apply_page_defaults(const QCommandLineParser& parser, HeadlessHost& host, const typeset::DevicePreset* device,
                         bool typeset, bool book) {
    const double width = device ? device->width : kTypesetPageWidth;
    const double height = device ? device->height : kTypesetPageHeight;
    const double points = device ? device->font_size_pt : kTypesetPoints;
    if (!device && !typeset && !book) return;
    if (!given(parser, "width")) host.set(Setting::c_tk, QString::number(width));
    if (!given(parser, "height")) host.set(Setting::c_tg, QString::number(height));
    if (!given(parser, "font-size")) host.set(Setting::c_fontsize, QString::number(points));
    if (typeset && !given(parser, "font")) host.set(Setting::c_font, QString::fromLatin1(typeset::default_family));
}

// The format of typeset pages: as given, else the device's (see device_page_format), else PNG.
void apply_typeset_format(const QCommandLineParser& parser, HeadlessHost& host, const typeset::DevicePreset* device) {
    const PageFormat* format = find_typeset_format_by_name(QStringLiteral("png"));
    if (given(parser, "format")) {
        format = find_typeset_format_by_name(value_of(parser, "format"));
        if (!format)
            throw UsageError{QStringLiteral("--format must be png, jpg, gif or bmp for typeset pages, or xtc, xtch or "
                                            "cbz for a book, not \"%1\"")
                                 .arg(value_of(parser, "format"))};
    } else if (device) {
        format = device_page_format(device->format, true);
    }
    host.set(Setting::v_tpks, QString::fromUtf16(format->extension));
}

}  // namespace

void add_typeset_options(QCommandLineParser& parser) {
    for (const OptionRow& row : kOptions) {
        if (row.value)
            parser.addOption(QCommandLineOption(QLatin1String(row.name), QString(), QLatin1String(row.value)));
        else
            parser.addOption(QCommandLineOption(QLatin1String(row.name)));
    }
}

const char* typeset_usage() { return kUsage; }

bool devices_listed(const QCommandLineParser& parser) { return given(parser, "list-devices"); }

namespace {

const typeset::DevicePreset* device_option(const QCommandLineParser& parser) {
    if (!given(parser, "device")) return nullptr;
    const typeset::DevicePreset* device = typeset::find_device(value_of(parser, "device").toStdString());
    if (!device)
        throw UsageError{QStringLiteral("--device must be one of the names --list-devices prints, not \"%1\"")
                             .arg(value_of(parser, "device"))};
    return device;
}

// Whether the run writes a book: the format asked for, else the device's own.
bool book_asked(const QCommandLineParser& parser) {
    QString name = value_of(parser, "format");
    if (!given(parser, "format")) {
        const typeset::DevicePreset* device = device_option(parser);
        if (!device) return false;
        name = QString::fromUtf8(device->format.data(), qsizetype(device->format.size()));
    }
    const PageFormat* f = find_format_by_name(name);
    return f && f->book != BookKind::none;
}

// The book options: refused without a book, read into the request with one.
void read_book_request(const QCommandLineParser& parser, const PageFormat* format, BookRequest& request) {
    for (const OptionRow& row : kOptions) {
        if (!given(parser, row.name)) continue;
        if (row.only == For::book && !format)
            throw UsageError{QStringLiteral("--%1 is for books; add --format xtc, xtch or cbz").arg(QLatin1String(row.name))};
        if (row.only == For::cbz && (!format || format->book != BookKind::cbz))
            throw UsageError{QStringLiteral("--%1 is for cbz books; add --format cbz").arg(QLatin1String(row.name))};
    }
    if (!format) return;
    for (const char* name : kLoosePageOptions)
        if (given(parser, name))
            throw UsageError{QStringLiteral("--%1 is for loose page files; a book is one file whose pages count from 1")
                                 .arg(QLatin1String(name))};
    if (given(parser, "toc") && given(parser, "no-toc"))
        throw UsageError{QStringLiteral("--toc and --no-toc cannot both be given")};
    request.contents = !given(parser, "no-toc");
    if (given(parser, "title")) request.title = value_of(parser, "title");
    if (given(parser, "author")) request.author = value_of(parser, "author");
    if (given(parser, "page-format"))
        request.page_format = QStringList{"png", "jpg"}[choice(parser, "page-format", {"png", "jpg"})];
}

}  // namespace

LayoutMode layout_option(const QCommandLineParser& parser) {
    // A book is typeset unless the classic grid is asked for.
    if (!given(parser, "layout")) return book_asked(parser) ? LayoutMode::typeset : LayoutMode::classic;
    return choice(parser, "layout", {"classic", "typeset"}) == 0 ? LayoutMode::classic : LayoutMode::typeset;
}

const PageFormat* book_format(const HeadlessHost& host) {
    const PageFormat* f = find_format(host.text(Setting::v_tpks));
    return f && f->book != BookKind::none ? f : nullptr;
}

void apply_typeset_options(const QCommandLineParser& parser, HeadlessHost& host) {
    PageOptions options;
    options.layout = layout_option(parser);
    const bool typeset = options.layout == LayoutMode::typeset;
    for (const OptionRow& row : kOptions)
        if (row.only == For::typeset && !typeset && given(parser, row.name))
            throw UsageError{QStringLiteral("--%1 is for typeset pages; add --layout typeset").arg(QLatin1String(row.name))};
    const typeset::DevicePreset* device = device_option(parser);
    if (given(parser, "gif-background"))
        options.gif_transparent = choice(parser, "gif-background", {"opaque", "transparent"}) == 1;
    apply_page_defaults(parser, host, device, typeset, book_asked(parser));
    if (typeset) {
        if (given(parser, "background-picture"))
            throw UsageError{QStringLiteral("--background-picture is for classic pages; typeset pages take a "
                                            "--background-color")};
        options.typeset = read_request(parser, device);
        apply_typeset_format(parser, host, device);
        // The page box is checked now, so that margins that leave no room are bad usage.
        const QString problem = typeset_style(options.typeset, host.text(Setting::c_tk).toDouble(),
                                              host.text(Setting::c_tg).toDouble(), host.text(Setting::c_font),
                                              host.text(Setting::c_fontsize).toDouble())
                                    .check();
        if (!problem.isEmpty()) throw UsageError{problem};
    } else if (device && !given(parser, "format")) {
        if (const PageFormat* f = device_page_format(device->format, false))
            host.set(Setting::v_tpks, QString::fromUtf16(f->extension));
    }
    read_book_request(parser, book_format(host), options.book);
    host.set(options);
}

}  // namespace pagiro
