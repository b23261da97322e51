#include "gentpok.h"

#include <algorithm>
#include <cmath>

#include "generator/page_limits.h"
#include "generator/page_pipeline.h"
#include "generator/page_writer.h"
#include "generator/run_state.h"
#include "platform/clock.h"
#include "platform/file_names.h"
#include "platform/folders.h"
#include "platform/pump.h"
#include "platform/staged_file.h"

namespace pagiro {
namespace {

const QString kSep = QString(QChar(path_separator));

QString whole(double v) { return QString::number(v, 'f', 0); }

// The percentage rounded to two decimals (halves to even), in its shortest form.
QString percent_text(double pct) {
    double r = std::nearbyint(pct * 100) / 100;
    QString s = QString::number(r, 'f', 2);
    while (s.endsWith(u'0')) s.chop(1);
    if (s.endsWith(u'.')) s.chop(1);
    if (s == u"-0") s = QStringLiteral("0");
    return s;
}

RunFailure page_number_limit() {
    return RunFailure(QStringLiteral("页码超过了999999999，无法继续生成。已生成的图片都已保存。"),
                      QStringLiteral("page numbers cannot go past 999999999; the pages up to it were written"));
}

}  // namespace

RunFailure unusable_folder(const QString& folder, const FolderError& e) {
    switch (e.reason) {
    case FolderError::Reason::Busy:
        return RunFailure(QStringLiteral("输出目录正在被另一次生成使用：%1。请等那次生成结束，或换一个输出目录。").arg(folder),
                          QStringLiteral("the output folder %1 is in use by another run; wait until that run ends "
                                         "or choose another folder")
                              .arg(folder));
    case FolderError::Reason::Link:
        return RunFailure(QStringLiteral("目录无法使用：%1（它是符号链接，图片不会写到链接指向的地方）").arg(folder),
                          QStringLiteral("cannot use the folder %1: it is a symbolic link, and pages are never "
                                         "written through a link")
                              .arg(folder));
    case FolderError::Reason::NotAFolder:
        return RunFailure(QStringLiteral("目录无法使用：%1（已有同名的文件）").arg(folder),
                          QStringLiteral("cannot use the folder %1: a file of that name is in the way").arg(folder));
    default:
        return RunFailure(QStringLiteral("目录无法使用：%1（%2）").arg(folder, QString::fromLocal8Bit(e.what())),
                          QStringLiteral("cannot use the folder %1: %2").arg(folder, QString::fromLocal8Bit(e.what())));
    }
}

namespace {

// A page number the run can still name, or the failure that ends the run.
std::int64_t page_number(std::int64_t p) {
    if (p > kLastPageNumber) throw page_number_limit();
    return p;
}

RunFailure nothing_fits() {
    return RunFailure(QStringLiteral("页面放不下文字。"), QStringLiteral("no text fits on the page"));
}

}  // namespace

bool start_or_stop(RunHost& host, const std::function<void()>& started) {
    if (mk::runflag != 0) {
        mk::runflag = 0;
        return false;
    }
    mk::hasrun = -1;
    mk::runflag = -1;
    if (started) started();
    gentpok generator(host);
    generator.rtext();
    return true;
}

gentpok::gentpok(RunHost& host) : host_(host) {}
gentpok::~gentpok() = default;

void gentpok::rtext() {
    mk::starttime = timer_seconds();
    // Counted from here, so that a run that fails before its first page (even in
    // making the output folder) counts none, not an earlier run's pages.
    const double first = first_page_number(host_);
    mk::pageno = std::abs(first) <= double(kLastPageNumber) ? static_cast<std::int64_t>(first) : 0;
    host_.playandstop(false);
    auto fail = [this](const RunFailure& f) {
        mk::runflag = 0;
        release_folders();
        if (host_.abandoned()) return;
        host_.run_failed(f);
        mk::runflag = 0;
        host_.playandstop(true);
    };
    books_.clear();
    try {
        made_output_folder_ = false;
        const SettingsSteps steps{[this](const QString& folder) {
            made_output_folder_ = make_folder(folder);
            hold_output_folder(folder);
        }};
        const RunSettings settings = read_run_settings(host_, steps);
        if (settings.layout == LayoutMode::typeset)
            wtypeset(settings);
        else
            wjpg(settings);
    } catch (const std::exception&) {
        fail(to_run_failure(std::current_exception(), FailedIn::run));
    }
}

void gentpok::chkpath(const QString& cs) { make_folder(cs); }

bool make_folder(const QString& cs) {
    if (cs.trimmed().isEmpty())
        throw RunFailure(QStringLiteral("没有指定输出目录。"), QStringLiteral("no output folder was given"));
    try {
        const std::filesystem::path folder(path_of(cs));
        if (folder_exists(folder)) return false;
        create_folder(folder);
        return true;
    } catch (const FolderError& e) {
        QString zh_reason, en_reason;
        switch (e.reason) {
        case FolderError::Reason::ParentMissing:
            zh_reason = QStringLiteral("上级目录不存在");
            en_reason = QStringLiteral("its parent folder does not exist");
            break;
        case FolderError::Reason::NotAFolder:
            zh_reason = QStringLiteral("已有同名的文件");
            en_reason = QStringLiteral("a file of that name is in the way");
            break;
        case FolderError::Reason::Denied:
            zh_reason = QStringLiteral("没有写入权限");
            en_reason = QStringLiteral("permission denied");
            break;
        default:
            zh_reason = QString::fromLocal8Bit(e.what());
            en_reason = zh_reason;
            break;
        }
        throw RunFailure(QStringLiteral("输出目录无法创建：%1（%2）").arg(cs, zh_reason),
                         QStringLiteral("cannot create the output folder %1: %2").arg(cs, en_reason));
    }
}

void gentpok::wjpg(const RunSettings& s) {
    const std::u16string_view chars(reinterpret_cast<const char16_t*>(s.text.utf16()), std::size_t(s.text.size()));
    const auto length = static_cast<std::int64_t>(chars.size());
    const PageStyle& g = s.style;
    const RunScope scope(run_, s);
    mk::pageno = s.first_page;

    // A book: its chapters found ahead, its contents pages set, its file begun.
    std::optional<BookBinder> binder;
    std::vector<ChapterPage> chapters;
    std::vector<ContentsPage> contents;
    if (s.book) {
        int pages = 0;
        chapters = classic_chapters(chars, g, s.drop_empty_lines, s.chapter_rule, pages, [] {
            pump();
            return mk::runflag != 0;
        });
        if (s.book->contents) {
            const auto set = [&](int count) {
                return classic_contents(contents_entries(chapters, count), static_cast<int>(g.cpl),
                                        static_cast<int>(g.lpp), char_columns);
            };
            contents = set(static_cast<int>(set(0).size()));
        }
        binder.emplace(s);
    }
    // Declared after the binder, so that its workers are done before the book goes.
    std::optional<PagePipeline> pipeline;
    std::optional<PageWriter> writer;
    if (length > 0) {
        // No more workers than pages may be in flight: a worker with no page of its
        // own would only keep its allocator's memory of the last one it encoded.
        const unsigned workers = PagePipeline::default_workers();
        const std::size_t in_flight =
            page_memory(*s.format, std::uint64_t(std::max(1.0, std::round(s.width))),
                        std::uint64_t(std::max(1.0, std::round(s.height))), workers)
                .pages_in_flight;
        pipeline.emplace(unsigned(std::min<std::size_t>(workers, in_flight)), kMaxPagesInFlight, kMaxBytesInFlight);
        writer.emplace(s, *pipeline, binder ? &*binder : nullptr);
    }
    const bool progress_per_page = s.format->progress == ProgressAt::page_start;

    // A failed write ends the run as a stop does, but at once: the page being
    // drawn would never be written.
    auto running = [&] { return mk::runflag != 0 && !(pipeline && pipeline->failed()); };
    auto pump_once = [] { pump(); };
    std::int32_t i = 1;
    std::u16string line;
    QString page_text;
    try {
        while (i <= length && running()) {
            // A page is named (and its progress shown) once; naming it again only pumps.
            PageFile file;
            auto name_page = [&] {
                if (file.path.isEmpty())
                    file = showstat(s);
                else
                    pump();
            };
            if (progress_per_page) name_page();
            pump();
            writer->canvas().begin_page();
            double n = 0;
            page_text.clear();
            host_.set_page_text(page_text);
            while (n < g.lpp && i <= length && running()) {
                if (!progress_per_page) name_page();
                pump();
                build_line(chars, i, g.cpl, line, running, pump_once);
                if (line.empty() && s.drop_empty_lines) continue;
                QString q = QString::fromUtf16(line.data(), static_cast<qsizetype>(line.size()));
                writer->canvas().draw_line(g.left, g.line_top(static_cast<int>(n)), q);
                page_text += q;
                host_.set_page_text(page_text);
                n += 1;
            }
            if (host_.abandoned()) return;
            if (pipeline->failed()) break;
            writer->write_page([&] {
                if (file.path.isEmpty()) {
                    mk::pageno = page_number(mk::pageno);
                    file = page_file(s, mk::pageno);
                }
                pump();
                return file;
            });
            mk::pageno += 1;
            // The contents pages follow the first page.
            if (mk::pageno == s.first_page + 1) {
                for (const ContentsPage& lines : contents) {
                    if (!running()) break;
                    const PageFile contents_file = showstat(s);
                    writer->canvas().begin_page();
                    page_text.clear();
                    for (std::size_t n = 0; n < lines.size(); ++n) {
                        const QString q = QString::fromStdU16String(lines[n]);
                        writer->canvas().draw_line(g.left, g.line_top(static_cast<int>(n)), q);
                        page_text += q;
                    }
                    host_.set_page_text(page_text);
                    writer->write_page([&] { return contents_file; });
                    mk::pageno += 1;
                }
            }
        }
        // Every page handed over is on disk before the summary counts it.
        if (pipeline) pipeline->finish();
    } catch (...) {
        if (pipeline) settle_after_error(*pipeline, s);
        throw;
    }
    if (host_.abandoned()) {
        release_folders();
        return;
    }
    if (binder) bind_book(binder, chapters, static_cast<int>(contents.size()));
    finish_run(s);
}

void gentpok::bind_book(std::optional<BookBinder>& binder, const std::vector<ChapterPage>& chapters, int contents) {
    // A stopped run has not made the whole book, and a book is written whole or not at all.
    if (mk::runflag != 0) {
        try {
            books_ = binder->finish(chapter_starts(chapters, contents));
        } catch (...) {
            mk::pageno = run_->first_page;
            throw;
        }
    }
    binder.reset();
}

// The end of a run that reached it: the summary, with stale pages settled while no
// other run can be writing into the folder, then the host idle again.
void gentpok::finish_run(const RunSettings& s) {
    RunSummary r = summary(s);
    if (s.book) {
        r.book = true;
        r.books = books_;
        if (books_.isEmpty()) r.pictures = 0;  // stopped: nothing of the book was kept
    }
    settle_stale_pages(s, r);
    release_folders();
    host_.finished(r);
    mk::runflag = 0;
    host_.playandstop(true);
}

void gentpok::settle_after_error(PagePipeline& pipeline, const RunSettings& s) {
    // A page counts once it is on disk: after a failure the counter is one past the
    // last page written, however far the drawing had got.
    // A book's pages count only once the whole book is in place.
    auto count_written = [&] {
        mk::pageno = s.first_page + (s.book ? 0 : static_cast<std::int64_t>(pipeline.written()));
    };
    // A page that failed before this point is the failure to report.
    try {
        pipeline.finish();
    } catch (...) {
        count_written();
        throw;
    }
    count_written();
}

RunSummary gentpok::summary(const RunSettings& s) const {
    RunSummary r;
    r.pictures = mk::pageno - s.first_page;
    r.finished_at = QString::fromStdString(now_text());
    r.seconds = elapsed_seconds(mk::starttime, timer_seconds());
    return r;
}

// Known only now that the last page is written: every page this run wrote has a
// number up to it, so nothing of this run can be taken for stale. Only a run that
// reached the end of its text cleans; after a stop the rest of the book may be
// just what the user still wants.
void gentpok::settle_stale_pages(const RunSettings& s, RunSummary& r) {
    // A folder the run made had no older pages, and it was held all along: no
    // other run wrote there, so listing its pages again would find only ours.
    if (!s.estimate || s.book || made_output_folder_) return;
    const PageNaming naming{s.output_folder, s.prefix, QString::fromUtf16(s.format->extension), *s.estimate};
    r.stale = find_stale_pages(naming, mk::pageno - 1);
    if (s.clean_stale_pages && mk::runflag != 0) r.removed = remove_stale_pages(r.stale);
}

QString gentpok::getfname(std::int64_t& p) {
    p = page_number(p);
    mk::pageno = p;
    QString result;
    if (run_) {
        result = page_file(*run_, p).path;
    } else {
        // Outside a run the volume folder is made by its path, as the page is named.
        const RunSettings s = read_run_settings(host_, {});
        result = page_file(s, p).path;
        const QString volume = volume_name(s, p);
        if (!volume.isEmpty()) chkpath(s.output_folder + kSep + volume);
    }
    pump();
    return result;
}

void gentpok::hold_output_folder(const QString& folder) {
    try {
        auto held = std::make_shared<Folder>(Folder::open(path_of(folder)));
        if (!host_.output_folder_held()) {
            held->lock();
            StagedFile::remove_leftovers(*held);
        }
        output_ = std::move(held);
    } catch (const FolderError& e) {
        throw unusable_folder(folder, e);
    }
}

void gentpok::release_folders() { output_.reset(); }

QString gentpok::volume_name(const RunSettings& s, std::int64_t page) const {
    if (!s.volume_pages) return QString();
    const double v = std::floor(double(page - s.first_page) / *s.volume_pages) + 1;
    return QStringLiteral("分卷") + whole(v);
}

PageFile gentpok::page_file(const RunSettings& s, std::int64_t page) {
    PageFile file;
    QString base = s.output_folder + kSep;
    file.folder = output_;
    // Every page of a book goes into the book's one file.
    if (s.book) {
        file.path = base + s.book->file;
        return file;
    }
    const QString volume = volume_name(s, page);
    if (!volume.isEmpty()) {
        file.volume = bytes_of_name(volume);
        file.volume_path = base + volume;
        file.first_in_volume = std::fmod(double(page - s.first_page), *s.volume_pages) == 0;
        base += volume + kSep;
    }
    if (!s.estimate) throw nothing_fits();
    const QString name = s.prefix + page_number_text(page, *s.estimate) + QString::fromUtf16(s.format->extension);
    file.path = base + name;
    file.name = bytes_of_name(name);
    return file;
}

PageFile gentpok::showstat(const RunSettings& s) {
    if (!s.estimate) throw nothing_fits();
    double estimate = *s.estimate == 0 ? 1 : *s.estimate;
    double pct = std::nearbyint((double(mk::pageno) - s.first_page_value) / estimate * 100 * 100) / 100;
    if (pct >= 100) pct = 100;
    mk::pageno = page_number(mk::pageno);
    PageFile file = page_file(s, mk::pageno);
    pump();
    QString shown = file.path;
    shown.remove(s.output_folder + kSep);
    host_.show_progress(RunProgress{mk::pageno, percent_text(pct), shown});
    return file;
}

}  // namespace pagiro
