#include "cli.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
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
#include "platform/folders.h"
#include "platform/fonts.h"
#include "platform/memory.h"
#include "platform/numbers.h"
#include "platform/text_view.h"
#include "platform/pump.h"
#include "platform/staged_file.h"
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

const char* signal_name(int signo) {
    switch (signo) {
    case SIGINT: return "Ctrl+C (SIGINT)";
    case SIGHUP: return "SIGHUP";
    default: return "SIGTERM";
    }
}

// Ctrl+C, SIGTERM and SIGHUP (the terminal closed) are the stop button: the page
// being built is still written.
void stop_on_signal() {
    if (g_signal != 0) mk::runflag = 0;
}

void quiet_qt_messages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "pagiro: %s\n", qPrintable(message));
}

const char* kCommands =
    "Usage:\n"
    "  pagiro                           open the window\n"
    "  pagiro convert TEXTFILE... [options]\n"
    "                                   turn text files into numbered page pictures, or into book\n"
    "                                   files (--format xtc|xtch|cbz); with several, each becomes a\n"
    "                                   book of its own in DIR/<its name>/ (or DIR/<its name>.<ext>)\n"
    "  pagiro --help | --version\n"
    "\n";

const char* kConvertUsage = "Usage: pagiro convert TEXTFILE... [options]\n\n";

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
    "  --format jpg|gif|bmp        picture format (default: gif); xtc, xtch, cbz: a book file, see below\n"
    "  --drop-empty-lines          drop empty lines\n"
    "  --volume-pages N            split into sub-folders 分卷1, 分卷2, ... of N pages each\n"
    "  --encoding E                auto|gbk|gb18030|big5|utf-8|utf-16|utf-16le|utf-16be (default: auto,\n"
    "                              which tells them apart by how plausible the text reads)\n"
    "  --line-breaks auto|crlf     auto (default): LF, CR and CR LF all end a line; crlf: only CR LF does\n"
    "  --clean                     remove the pages an earlier run left past this run's last page\n"
    "                              (same prefix and extension, higher numbers) once the run has ended\n"
    "  --jobs N                    with several text files, convert N books side by side (default: 1)\n"
    "  --quiet                     no progress display\n"
    "  -h, --help                  this text\n";

// Last in the help, after every group of options.
const char* kExitCodes =
    "\n"
    "Exit codes: 0 done, 1 the run (or one of several books) failed, 2 bad usage, 130/143/129 stopped by\n"
    "Ctrl+C/SIGTERM/SIGHUP (the pages written until then are complete, and the summary says how many).\n";

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

    void set_clean(bool clean) { clean_ = clean; }
    void set_quiet(bool quiet) { quiet_ = quiet; }
    bool clean_stale_pages() const override { return clean_; }
    void set_folder_held(bool held) { folder_held_ = held; }
    bool output_folder_held() const override { return folder_held_; }
    // In a library: the line above the book's summary, and the book before its progress.
    void set_book(const QString& heading, const QString& label) {
        heading_ = heading;
        label_ = label + QStringLiteral(": ");
    }


    void show_progress(const RunProgress& p) override {
        HeadlessHost::show_progress(p);
        if (quiet_ || gone_) return;
        const long long pageno = p.page;
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
            std::fprintf(stderr, "\r%s[%s] page %lld  %s%%  %s\033[K", qPrintable(label_), bar.c_str(), pageno,
                         qPrintable(percent), bytes_of_name(file).c_str());
            drawn_ = true;
        } else {
            std::fprintf(stderr, "%spage %lld, about %s%% done, %s\n", qPrintable(label_), pageno, qPrintable(percent),
                         bytes_of_name(file).c_str());
        }
        // Whoever read the progress has gone (`pagiro convert … 2>&1 | head -1`): the
        // run goes on without it.
        if (std::fflush(stderr) != 0 || std::ferror(stderr)) gone_ = true;
    }

    // Stale pages are told on standard error, in English, not in the summary.
    void finished(const RunSummary& summary) override {
        RunSummary told = summary;
        told.stale = {};
        HeadlessHost::finished(told);
        tell_stale_pages(summary);
        if (g_signal == 0) return;
        if (summary.book) {
            std::fprintf(stderr, "pagiro: stopped by %s; the book was not written (a book file is written only "
                                 "whole)\n", signal_name(g_signal));
            return;
        }
        // Not the end of the book: say so, and how much of it is on disk.
        std::fprintf(stderr, "pagiro: stopped by %s; %lld page%s written, each complete\n", signal_name(g_signal),
                     static_cast<long long>(summary.pictures), summary.pictures == 1 ? " was" : "s were");
    }

protected:
    void show_summary(const QStringList& lines) override {
        end_progress();
        if (!heading_.isEmpty()) std::printf("%s\n", qPrintable(heading_));
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
    void tell_stale_pages(const RunSummary& s) {
        const QString folder = text(Setting::c_ml);
        auto range = [](const StalePages& p) {
            return QStringLiteral("%1 to %2").arg(p.files.front().name, p.files.back().name);
        };
        if (!s.removed.empty())
            std::fprintf(stderr, "pagiro: removed %lld older pages past this run's last page from %s (%s)\n",
                         static_cast<long long>(s.removed.count()), qPrintable(folder), qPrintable(range(s.removed)));
        if (!s.stale.empty()) {
            const char* what = !clean_ ? "--clean removes them" : g_signal != 0 ? "not removed: the run was stopped"
                                                                                 : "they could not be removed";
            std::fprintf(stderr, "pagiro: warning: %lld older pages past this run's last page remain in %s (%s); %s\n",
                         static_cast<long long>(s.stale.count()), qPrintable(folder), qPrintable(range(s.stale)), what);
        }
        std::fflush(stderr);
    }

    void end_progress() {
        if (drawn_) std::fprintf(stderr, "\n");
        drawn_ = false;
    }

    bool quiet_;
    bool tty_;
    bool gone_ = false;  // standard error can no longer be written
    bool clean_ = false;
    bool folder_held_ = false;
    QString heading_, label_;
    bool shown_ = false;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// How every text of one command is read and shown.
struct BookRun {
    TextEncoding encoding;
    LineBreaks line_breaks;
    bool quiet;
};

// Reads one text and runs it with the host's settings. The exit code of a run.
int convert_book(CliHost& host, const QString& file, const BookRun& run) {
    ReadFailure failure;
    auto source = read_source_text(path_of(file), run.encoding, run.line_breaks, failure);
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
    if (!run.quiet) {
        std::string how = std::string(encoding_name(source->encoding)) + (source->detected ? " (detected)" : "");
        if (source->mended_line_breaks > 0)
            how += ", " + std::to_string(source->mended_line_breaks) + " line breaks read as CR LF";
        std::fprintf(stderr, "reading %s as %s\n", bytes_of_name(file).c_str(), how.c_str());
    }
    source.reset();  // the run holds its own copy

    // A book is named after its title, else its text file (a library names it itself).
    PageOptions options = host.page_options();
    if (book_format(host) && options.book.name.isEmpty() && options.book.title.trimmed().isEmpty()) {
        options.book.name = QFileInfo(file).completeBaseName();
        if (options.book.name.isEmpty()) options.book.name = QFileInfo(file).fileName();
        host.set(options);
    }

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
    static bool font_told = false;  // once for a whole library
    if (!font_told && !QFontDatabase::families().contains(font_name)) {
        font_told = true;
        const QString used = host.page_options().layout == LayoutMode::typeset
                                 ? typeset::resolved_family(font_name)
                                 : QFontInfo(page_font(font_name, 9)).family();
        std::fprintf(stderr, "pagiro: the font \"%s\" is not installed; the pages use \"%s\" instead\n",
                     qPrintable(font_name), qPrintable(used));
    }

    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGHUP, on_signal);
    set_pump_handler(stop_on_signal);
    host.start();
    set_pump_handler(nullptr);

    if (!host.failure().isEmpty()) return 1;
    if (g_signal != 0) return 128 + g_signal;
    return 0;
}

// The folder of each book of a library: the text file's name without its
// extension. Two texts of one name would mix their pages, so that is refused.
QStringList book_folder_names(const QStringList& texts) {
    QStringList names;
    for (const QString& text : texts) {
        const QFileInfo info(text);
        QString name = info.completeBaseName();
        if (name.isEmpty() || name == u"." || name == u"..") name = info.fileName();
        if (name.isEmpty() || name == u"." || name == u"..")
            throw UsageError{QStringLiteral("\"%1\" does not name a text file").arg(text)};
        const qsizetype same = names.indexOf(name);
        if (same >= 0)
            throw UsageError{QStringLiteral("%1 and %2 would share the book folder \"%3\"; rename one")
                                 .arg(texts[same], text, name)};
        names << name;
    }
    return names;
}

int exit_code(bool failed) {
    if (g_signal != 0) return 128 + g_signal;
    return failed ? 1 : 0;
}

// Each book as a child process of this program, `jobs` at a time: the run state
// is the process's own, so books side by side share nothing. A child converts
// the one book PAGIRO_BOOK names, quietly; its messages and summary are passed
// on whole when it ends, so that the books' texts do not interleave.
int convert_side_by_side(const QStringList& texts, int jobs, bool quiet) {
    const qsizetype n = texts.size();
    const bool tty = isatty(STDERR_FILENO) == 1;
    std::vector<std::pair<qsizetype, std::unique_ptr<QProcess>>> running;
    qsizetype next = 0, done = 0;
    bool failed = false, stopping = false;
    auto show_done = [&] {
        if (quiet) return;
        if (tty)
            std::fprintf(stderr, "\r%lld of %lld books done\033[K", static_cast<long long>(done), static_cast<long long>(n));
        else
            std::fprintf(stderr, "%lld of %lld books done\n", static_cast<long long>(done), static_cast<long long>(n));
        std::fflush(stderr);
    };
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGHUP, on_signal);
    while (next < n || !running.empty()) {
        while (g_signal == 0 && next < n && std::ssize(running) < jobs) {
            auto child = std::make_unique<QProcess>();
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("PAGIRO_BOOK"), QString::number(next));
            child->setProcessEnvironment(env);
            child->start(QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1));
            running.emplace_back(next++, std::move(child));
        }
        if (g_signal != 0 && !stopping) {
            stopping = true;  // Ctrl+C reaches the children itself; SIGTERM and SIGHUP are passed on
            for (auto& r : running) r.second->terminate();
        }
        for (auto it = running.begin(); it != running.end();) {
            QProcess& child = *it->second;
            if (!child.waitForFinished(50) && child.state() != QProcess::NotRunning) {
                ++it;
                continue;
            }
            if (tty && !quiet) std::fprintf(stderr, "\r\033[K");
            const QByteArray err = child.readAllStandardError(), out = child.readAllStandardOutput();
            std::fwrite(err.constData(), 1, std::size_t(err.size()), stderr);
            std::fwrite(out.constData(), 1, std::size_t(out.size()), stdout);
            std::fflush(stdout);
            // A child that crashed or could not start has said nothing itself.
            const bool normal = child.exitStatus() == QProcess::NormalExit && child.error() != QProcess::FailedToStart;
            const int code = child.exitCode();
            if (!normal)
                std::fprintf(stderr, "pagiro: the conversion of %s ended abnormally\n", qPrintable(texts[it->first]));
            const bool stopped = code == 128 + SIGINT || code == 128 + SIGTERM || code == 128 + SIGHUP;
            if (!normal || (code != 0 && !stopped)) failed = true;
            ++done;
            show_done();
            it = running.erase(it);
        }
    }
    if (tty && !quiet) std::fprintf(stderr, "\n");
    return exit_code(failed);
}

// Several texts, each its own book in a folder of its own below `folder`.
int convert_library(const CliHost& base, const QStringList& texts, const QString& folder, int jobs,
                    const BookRun& run) {
    const QStringList names = book_folder_names(texts);
    const qsizetype n = texts.size();
    // Book files lie side by side in the folder, loose pages in a folder per book.
    const PageFormat* book = book_format(base);
    bool held_by_batch = false;
    auto one_book = [&](qsizetype k, bool quiet) {
        CliHost host = base;
        host.set_quiet(quiet);
        host.set_folder_held(held_by_batch);
        QString target = QDir(folder).filePath(names[k]);
        if (book) {
            PageOptions options = host.page_options();
            options.book.name = names[k];
            host.set(options);
            host.set(Setting::c_ml, folder);
            target += QString::fromUtf16(book->extension);
        } else {
            host.set(Setting::c_ml, target);
        }
        host.set_book(QStringLiteral("%1 -> %2").arg(texts[k], target),
                      QStringLiteral("book %1/%2 %3").arg(k + 1).arg(n).arg(texts[k]));
        return convert_book(host, texts[k], BookRun{run.encoding, run.line_breaks, quiet});
    };
    bool ok = false;
    const qsizetype only = qEnvironmentVariableIntValue("PAGIRO_BOOK", &ok);
    if (ok && only >= 0 && only < n) {
        // Book files side by side: the batch holds their common folder.
        held_by_batch = book != nullptr;
        return one_book(only, true);
    }

    // The books' common folder is made as a single book's would be: its parent must exist.
    try {
        CliHost host = base;
        gentpok(host).chkpath(folder);
    } catch (const RunFailure& f) {
        std::fprintf(stderr, "pagiro: %s\n", qPrintable(f.english));
        return 1;
    }
    if (jobs > 1) {
        // Book files share the one folder: the batch takes its lock and clears what
        // an interrupted run left in it, once, for all the books written side by side.
        std::optional<Folder> held;
        if (book) {
            try {
                held = Folder::open(path_of(folder));
                held->lock();
                StagedFile::remove_leftovers(*held);
            } catch (const FolderError& e) {
                std::fprintf(stderr, "pagiro: %s\n", qPrintable(unusable_folder(folder, e).english));
                return 1;
            }
        }
        return convert_side_by_side(texts, jobs, run.quiet);
    }
    bool failed = false;
    for (qsizetype k = 0; k < n && g_signal == 0; ++k) failed |= one_book(k, run.quiet) == 1;
    return exit_code(failed);
}

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
    const QCommandLineOption clean(QStringList{"clean"});
    const QCommandLineOption jobs_option = value_option({"jobs"}, "N");
    const QCommandLineOption help(QStringList{"h", "help"});
    parser.addOptions({output, prefix, first, width, height, font, font_size, text_color, background_color,
                       background_picture, format, drop_empty, volume_pages, encoding, line_breaks, quiet, clean,
                       jobs_option, help});
    add_typeset_options(parser);

    QStringList args = arguments;
    args.removeAt(1);  // "convert"
    if (!parser.parse(args)) throw UsageError{parser.errorText()};
    if (parser.isSet(help)) {
        std::printf("%s%s%s%s", kConvertUsage, kOptions, typeset_usage(), kExitCodes);
        return 0;
    }
    if (devices_listed(parser)) {
        std::printf("%s", typeset::device_listing().c_str());
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) throw UsageError{QStringLiteral("convert needs the text file to convert")};

    CliHost host(parser.isSet(quiet));
    host.set_clean(parser.isSet(clean));
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
        if (!f)
            throw UsageError{QStringLiteral("--format must be jpg, gif or bmp, or xtc, xtch or cbz for a book, not \"%1\"")
                                 .arg(parser.value(format))};
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

    const BookRun run{enc, breaks, parser.isSet(quiet)};
    if (positional.size() == 1) return convert_book(host, positional.first(), run);
    const QString folder = parser.isSet(output) ? parser.value(output) : QDir(current_folder_name()).filePath(QStringLiteral("电子书"));
    const int jobs = parser.isSet(jobs_option)
                         ? whole_option("jobs", parser.value(jobs_option), 1, 64, "books side by side").toInt()
                         : 1;
    if (book_format(host)) {
        // Runs into one folder take turns: each holds the folder while it writes.
        if (!host.page_options().book.title.isEmpty())
            throw UsageError{QStringLiteral("--title names one book; with several text files each book takes its "
                                            "text file's name")};
    }
    return convert_library(host, positional, folder, jobs, run);
}

}  // namespace

int run_cli(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "--help" || command == "-h" || command == "help") {
        std::printf("%s%s%s%s", kCommands, kOptions, typeset_usage(), kExitCodes);
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
    // A reader of our output that goes away is a failed write, not the end of the run.
    std::signal(SIGPIPE, SIG_IGN);
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
