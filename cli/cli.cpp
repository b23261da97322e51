#include "cli.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <new>
#include <optional>
#include <unistd.h>

#include "cli/typeset_options.h"
#include "cli/usage.h"
#include "generator/formats.h"
#include "generator/gentpok.h"
#include "generator/page_limits.h"
#include "generator/page_pipeline.h"
#include "generator/headless_host.h"
#include "generator/run_state.h"
#include "platform/colour.h"
#include "platform/file_names.h"
#include "platform/fonts.h"
#include "platform/memory.h"
#include "platform/numbers.h"
#include "platform/text_view.h"
#include "platform/pump.h"
#include "platform/surface.h"
#include "platform/textfile.h"
#include "platform/xygraphics.h"
#include "layout/qt_measurer.h"
#include "render/devices.h"

namespace pagiro {
namespace {

volatile std::sig_atomic_t g_signal = 0;

void on_signal(int signo) {
    g_signal = signo;
    mk::runflag = 0;
}

const char* signal_name(int signo) { return signo == SIGINT ? "Ctrl+C (SIGINT)" : "SIGTERM"; }

// Ctrl+C and SIGTERM are the stop button: the page being built is still written.
void stop_on_signal() {
    if (g_signal != 0) mk::runflag = 0;
}

void quiet_qt_messages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "pagiro: %s\n", qPrintable(message));
}

const char* kCommands =
    "Usage:\n"
    "  pagiro                           open the window\n"
    "  pagiro convert TEXTFILE [options]\n"
    "                                   turn a text file into numbered page pictures\n"
    "  pagiro --help | --version\n"
    "\n";

const char* kConvertUsage = "Usage: pagiro convert TEXTFILE [options]\n\n";

const char* kOptions =
    "Options of convert (defaults are the window's):\n"
    "  -o, --output DIR            folder for the pages (default: 电子书 in the current folder)\n"
    "  --prefix TEXT               file-name prefix (default: kbwm)\n"
    "  --first N                   number of the first page, 0..32767 (default: 1)\n"
    "  --width PX, --height PX     page size in pixels, at least 20 (default: 128 x 110)\n"
    "  --font NAME                 font family (default: 宋体 or the installed Song/Ming face)\n"
    "  --font-size PT              font size in points (default: 9)\n"
    "  --text-color C              text colour (default: 0, black)\n"
    "  --background-color C        background colour (default: 16777215, white)\n"
    "                              C is a decimal 0x00BBGGRR value as the window holds it, or #RRGGBB\n"
    "  --background-picture FILE   a .jpg, .bmp or .gif drawn at the top-left of every page\n"
    "                              (JPEG and BMP pages; GIF pages keep a plain, transparent background)\n"
    "  --format jpg|gif|bmp        picture format (default: gif)\n"
    "  --drop-empty-lines          drop empty lines\n"
    "  --volume-pages N            split into sub-folders 分卷1, 分卷2, ... of N pages each\n"
    "  --encoding E                auto|gbk|gb18030|big5|utf-8|utf-16|utf-16le|utf-16be (default: auto,\n"
    "                              which tells them apart by how plausible the text reads)\n"
    "  --line-breaks auto|crlf     auto (default): LF, CR and CR LF all end a line; crlf: only CR LF does\n"
    "  --quiet                     no progress display\n"
    "  -h, --help                  this text\n"
    "\n"
    "Exit codes: 0 done, 1 the run failed, 2 bad usage, 130/143 stopped by Ctrl+C/SIGTERM\n"
    "(the pages written until then are complete, and the summary says how many).\n";

// A whole number within [low, high], as the window's validation would accept it.
QString whole_option(const QString& option, const QString& value, double low, double high, const char* what) {
    if (!is_numeric(view(value)))
        throw UsageError{QStringLiteral("--%1 must be a number (%2), not \"%3\"").arg(option, QLatin1String(what), value)};
    double v = text_to_double(view(value));
    if (v != std::floor(v))
        throw UsageError{QStringLiteral("--%1 must be a whole number (%2), not \"%3\"").arg(option, QLatin1String(what), value)};
    if (v < low || v > high)
        throw UsageError{QStringLiteral("--%1 must be between %2 and %3 (%4), not \"%5\"")
                             .arg(option)
                             .arg(low, 0, 'f', 0)
                             .arg(high, 0, 'f', 0)
                             .arg(QLatin1String(what), value)};
    return QString::number(v, 'f', 0);
}

// A colour as the window holds it: decimal 0x00BBGGRR; "#RRGGBB" is accepted too,
// as # and exactly six hexadecimal digits.
QString colour_option(const QString& option, const QString& value) {
    if (value.startsWith(u'#')) {
        const bool hex = value.size() == 7 && std::all_of(value.begin() + 1, value.end(), [](QChar c) {
                             return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
                         });
        if (!hex)
            throw UsageError{QStringLiteral("--%1 must be # and six hexadecimal digits (#RRGGBB), not \"%2\"")
                                 .arg(option, value)};
        return QString::number(swap_red_blue(value.mid(1).toUInt(nullptr, 16)));
    }
    const double v = is_numeric(view(value)) ? text_to_double(view(value)) : -1;
    if (v < 0 || v > 16777215 || v != std::floor(v))
        throw UsageError{QStringLiteral("--%1 must be a decimal colour value 0..16777215 (0x00BBGGRR) or #RRGGBB, "
                                        "not \"%2\"")
                             .arg(option, value)};
    return QString::number(v, 'f', 0);
}

// Pages larger than the format's file can hold or than this machine's memory can
// make are a bad value like any other, refused before anything is read or made.
void page_size_allowed(const HeadlessHost& host) {
    const PageFormat* format = find_format(host.text(Setting::v_tpks));
    const auto number = [&](Setting s) { return text_to_double(view(host.text(s))); };
    if (!format) return;
    if (auto refusal = page_size_refusal(*format, number(Setting::c_tk), number(Setting::c_tg),
                                         PagePipeline::default_workers(), memory_room()))
        throw UsageError{refusal->english + QStringLiteral("; choose a smaller --width or --height")};
}

class CliHost : public HeadlessHost {
public:
    explicit CliHost(bool quiet) : quiet_(quiet), tty_(isatty(STDERR_FILENO) == 1) {}

    void show_progress(const RunProgress& p) override {
        HeadlessHost::show_progress(p);
        if (quiet_) return;
        const double pageno = p.page;
        const QString& percent = p.percent;
        const QString& file = p.file;
        auto now = std::chrono::steady_clock::now();
        auto interval = tty_ ? std::chrono::milliseconds(100) : std::chrono::milliseconds(5000);
        if (shown_ && now - last_ < interval) return;
        shown_ = true;
        last_ = now;
        bool ok = false;
        double pct = percent.toDouble(&ok);
        if (tty_) {
            int filled = ok ? static_cast<int>(pct / 100 * 30) : 0;
            std::string bar(static_cast<std::size_t>(filled), '#');
            bar.resize(30, '.');
            std::fprintf(stderr, "\r[%s] page %.0f  %s%%  %s\033[K", bar.c_str(), pageno, qPrintable(percent),
                         bytes_of_name(file).c_str());
            drawn_ = true;
        } else {
            std::fprintf(stderr, "page %.0f, about %s%% done, %s\n", pageno, qPrintable(percent),
                         bytes_of_name(file).c_str());
        }
        std::fflush(stderr);
    }

    void finished(const RunSummary& summary) override {
        HeadlessHost::finished(summary);
        if (g_signal == 0) return;
        // Not the end of the book: say so, and how much of it is on disk.
        std::fprintf(stderr, "pagiro: stopped by %s; %.0f page%s written, each complete\n", signal_name(g_signal),
                     summary.pictures, summary.pictures == 1 ? " was" : "s were");
    }

protected:
    void show_summary(const QStringList& lines) override {
        end_progress();
        // A stopped run has not made the whole book: its first line says so, and
        // there is no advice to copy the pages yet.
        QStringList shown = lines;
        if (g_signal != 0 && shown.size() == 4) {
            shown.first() = QStringLiteral("电子书生成已停止!");
            shown.removeLast();
        }
        for (const QString& l : shown) std::printf("%s\n", qPrintable(l));
        std::fflush(stdout);
    }
    void show_failure(const QString& english) override {
        end_progress();
        std::fprintf(stderr, "pagiro: %s\n", bytes_of_name(english).c_str());
    }

private:
    void end_progress() {
        if (drawn_) std::fprintf(stderr, "\n");
        drawn_ = false;
    }

    bool quiet_;
    bool tty_;
    bool shown_ = false;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// Paths and names are taken as the bytes they are, not as the locale decodes them
// (which turns a GBK file name into "����").
int convert(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    auto value_option = [](QStringList names, const char* value) {
        return QCommandLineOption(names, QString(), QString::fromLatin1(value));
    };
    const QCommandLineOption output = value_option({"o", "output"}, "DIR");
    const QCommandLineOption prefix = value_option({"prefix"}, "TEXT");
    const QCommandLineOption first = value_option({"first"}, "N");
    const QCommandLineOption width = value_option({"width"}, "PX");
    const QCommandLineOption height = value_option({"height"}, "PX");
    const QCommandLineOption font = value_option({"font"}, "NAME");
    const QCommandLineOption font_size = value_option({"font-size"}, "PT");
    const QCommandLineOption text_color = value_option({"text-color"}, "C");
    const QCommandLineOption background_color = value_option({"background-color"}, "C");
    const QCommandLineOption background_picture = value_option({"background-picture"}, "FILE");
    const QCommandLineOption format = value_option({"format"}, "FORMAT");
    const QCommandLineOption drop_empty(QStringList{"drop-empty-lines"});
    const QCommandLineOption volume_pages = value_option({"volume-pages"}, "N");
    const QCommandLineOption encoding = value_option({"encoding"}, "E");
    const QCommandLineOption line_breaks = value_option({"line-breaks"}, "MODE");
    const QCommandLineOption quiet(QStringList{"quiet"});
    const QCommandLineOption help(QStringList{"h", "help"});
    parser.addOptions({output, prefix, first, width, height, font, font_size, text_color, background_color,
                       background_picture, format, drop_empty, volume_pages, encoding, line_breaks, quiet, help});
    add_typeset_options(parser);

    QStringList args = arguments;
    args.removeAt(1);  // "convert"
    if (!parser.parse(args)) throw UsageError{parser.errorText()};
    if (parser.isSet(help)) {
        std::printf("%s%s%s", kConvertUsage, kOptions, typeset_usage());
        return 0;
    }
    if (devices_listed(parser)) {
        std::printf("%s", typeset::device_listing().c_str());
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        throw UsageError{positional.isEmpty() ? QStringLiteral("convert needs the text file to convert")
                                              : QStringLiteral("convert takes one text file, not %1").arg(positional.size())};

    CliHost host(parser.isSet(quiet));
    host.set(Setting::c_ml, parser.isSet(output) ? parser.value(output)
                                                 : QDir(current_folder_name()).filePath(QStringLiteral("电子书")));
    if (parser.isSet(prefix)) {
        const QString p = parser.value(prefix);
        switch (prefix_fault(p)) {
        case PrefixFault::none: break;
        case PrefixFault::unsafe_character:
            throw UsageError{QStringLiteral("--prefix must not hold \\ / : * ? \" < > | or control characters: \"%1\"")
                                 .arg(p)};
        case PrefixFault::hidden:
            throw UsageError{
                QStringLiteral("--prefix must not start with \".\" (the pages would be hidden files): \"%1\"").arg(p)};
        }
        host.set(Setting::c_fjqz, p);
    }
    if (parser.isSet(first)) host.set(Setting::c_qm, whole_option("first", parser.value(first), 0, 32767, "a page number"));
    if (parser.isSet(width)) host.set(Setting::c_tk, whole_option("width", parser.value(width), 20, 1e6, "pixels"));
    if (parser.isSet(height)) host.set(Setting::c_tg, whole_option("height", parser.value(height), 20, 1e6, "pixels"));
    if (parser.isSet(font_size))
        host.set(Setting::c_fontsize, whole_option("font-size", parser.value(font_size), 1, 1000, "points"));
    if (parser.isSet(text_color)) host.set(Setting::c_wzcolor, colour_option("text-color", parser.value(text_color)));
    if (parser.isSet(background_color))
        host.set(Setting::c_bjcolor, colour_option("background-color", parser.value(background_color)));
    if (parser.isSet(background_picture)) host.set(Setting::c_bjtp, parser.value(background_picture));
    if (parser.isSet(volume_pages)) {
        host.set(Setting::zdfj1, whole_option("volume-pages", parser.value(volume_pages), 1, 1e9, "pages"));
        host.set(Check::zdfj, true);
    }
    host.set(Check::qckh, parser.isSet(drop_empty));
    if (parser.isSet(format) && layout_option(parser) == LayoutMode::classic) {
        const PageFormat* f = find_format_by_name(parser.value(format));
        if (!f) throw UsageError{QStringLiteral("--format must be jpg, gif or bmp, not \"%1\"").arg(parser.value(format))};
        host.set(Setting::v_tpks, QString::fromUtf16(f->extension));
    }
    page_size_allowed(host);
    host.set(Setting::c_font, parser.isSet(font) ? parser.value(font) : choose_default_font(QFontDatabase::families()));
    apply_typeset_options(parser, host);

    TextEncoding enc = TextEncoding::Auto;
    if (parser.isSet(encoding)) {
        auto e = parse_text_encoding(parser.value(encoding).toStdString());
        if (!e)
            throw UsageError{QStringLiteral("--encoding must be auto, gbk, gb18030, big5, utf-8, utf-16, utf-16le or "
                                            "utf-16be, not \"%1\"")
                                 .arg(parser.value(encoding))};
        enc = *e;
    }
    LineBreaks breaks = LineBreaks::Auto;
    if (parser.isSet(line_breaks)) {
        auto b = parse_line_breaks(parser.value(line_breaks).toStdString());
        if (!b) throw UsageError{QStringLiteral("--line-breaks must be auto or crlf, not \"%1\"").arg(parser.value(line_breaks))};
        breaks = *b;
    }

    const QString file = positional.first();
    ReadFailure failure;
    auto source = read_source_text(path_of(file), enc, breaks, failure);
    if (source) {
        try {
            host.set(Setting::s_text, QString::fromStdU16String(source->text));
        } catch (const std::bad_alloc&) {
            failure = ReadFailure{ReadFailure::OutOfMemory, source->text.size() * 2, {}};
            source.reset();
        }
    }
    if (!source) {
        std::fprintf(stderr, "pagiro: cannot read %s: %s\n", bytes_of_name(file).c_str(), failure.describe().c_str());
        return 1;
    }
    if (!parser.isSet(quiet)) {
        std::string how = std::string(encoding_name(source->encoding)) + (source->detected ? " (detected)" : "");
        if (source->mended_line_breaks > 0)
            how += ", " + std::to_string(source->mended_line_breaks) + " line breaks read as CR LF";
        std::fprintf(stderr, "reading %s as %s\n", bytes_of_name(file).c_str(), how.c_str());
    }
    source.reset();  // the run holds its own copy

    if (host.text(Setting::v_tpks) == u".gif" && !XYGraphics::available()) {
        std::fprintf(stderr, "pagiro: GIF pages cannot be made here; choose --format jpg or bmp\n");
        return 1;
    }

    // A picture that cannot be read is the run's failure to report; one that can
    // is worth a word when the pages will not show it.
    const QFileInfo picture(host.text(Setting::c_bjtp).trimmed());
    if (host.text(Setting::v_tpks) == u".gif" && picture.isFile() && picture.isReadable())
        std::fprintf(stderr, "pagiro: GIF pages do not show a background picture; choose --format jpg or bmp to have "
                             "it on the pages\n");

    const QString font_name = host.text(Setting::c_font);
    if (!QFontDatabase::families().contains(font_name)) {
        const QString used = host.page_options().layout == LayoutMode::typeset
                                 ? typeset::resolved_family(font_name)
                                 : QFontInfo(page_font(font_name, 9)).family();
        std::fprintf(stderr, "pagiro: the font \"%s\" is not installed; the pages use \"%s\" instead\n",
                     qPrintable(font_name), qPrintable(used));
    }

    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    set_pump_handler(stop_on_signal);
    host.start();
    set_pump_handler(nullptr);

    if (!host.failure().isEmpty()) return 1;
    if (g_signal != 0) return 128 + g_signal;
    return 0;
}

}  // namespace

int run_cli(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "--help" || command == "-h" || command == "help") {
        std::printf("%s%s%s", kCommands, kOptions, typeset_usage());
        return 0;
    }
    if (command == "--version" || command == "-v" || command == "-V" || command == "version") {
        std::printf("pagiro %s\n", PAGIRO_VERSION);
        return 0;
    }
    if (command != "convert") {
        std::fprintf(stderr, "pagiro: unknown command \"%s\"; the commands are convert, --help and --version\n%s",
                     command.c_str(), kCommands);
        return 2;
    }
    // No display is needed: draw off-screen. Qt's own chatter (a missing runtime
    // folder and the like) is not for the user of a batch tool.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("PAGIRO_DEBUG")) qInstallMessageHandler(quiet_qt_messages);
    QGuiApplication app(argc, argv);
    try {
        return convert(program_arguments(argc, argv));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "pagiro: %s\nTry 'pagiro --help'.\n", bytes_of_name(e.message).c_str());
        return 2;
    }
}

int no_display() {
    std::fprintf(stderr,
                 "pagiro: there is no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                 "To make pages without a display, use: pagiro convert TEXTFILE [options]  (see pagiro convert "
                 "--help)\n");
    return 2;
}

}  // namespace pagiro
