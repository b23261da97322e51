#include "generator/book_run.h"

#include "book/book_error.h"
#include "book/cbz_writer.h"
#include "book/xtc_writer.h"
#include "generator/page_pipeline.h"
#include "generator/run_failure.h"
#include "generator/settings.h"
#include "platform/file_names.h"
#include "platform/folders.h"

namespace pagiro {
namespace {

RunFailure book_failure(const QString& path, const QString& reason) {
    return RunFailure(QStringLiteral("电子书文件无法写入：%1（%2）。没有留下不完整的文件。").arg(path, reason),
                      QStringLiteral("cannot write the book %1: %2; no partial book was left").arg(path, reason));
}

QString reason_of(const std::exception& e) { return QString::fromLocal8Bit(e.what()); }

std::string utf8(const QString& text) { return text.toStdString(); }

}  // namespace

BookBinder::BookBinder(const RunSettings& s)
    : settings_(s), path_(s.output_folder + QChar(path_separator) + s.book->file) {
    const std::filesystem::path file = path_of(path_);
    try {
        switch (s.format->book) {
        case BookKind::xtc:
        case BookKind::xtch: {
            XtcBook book;
            book.path = file;
            book.depth = s.format->book == BookKind::xtc ? XtcDepth::OneBit : XtcDepth::TwoBit;
            book.title = utf8(s.book->title);
            book.author = utf8(s.book->author);
            xtc_ = std::make_unique<XtcWriter>(std::move(book));
            break;
        }
        case BookKind::cbz:
            cbz_ = std::make_unique<CbzWriter>(
                CbzBook{file, utf8(s.book->title), utf8(s.book->author), s.book->page_format->name});
            break;
        case BookKind::none: break;
        }
    } catch (const BookError& e) {
        throw book_failure(path_, reason_of(e));
    }
}

BookBinder::~BookBinder() = default;  // an unfinished book's writer removes its files

void BookBinder::hand_over(PagePipeline& pipeline, QImage page, std::size_t bytes) {
    pipeline.submit(
        [this, page = std::move(page)]() -> PagePipeline::Write {
            if (xtc_) {
                // The writer packs grey pages; a classic page is drawn in colour.
                QImage grey = page.format() == QImage::Format_Grayscale8 ? page
                                                                          : page.convertToFormat(QImage::Format_Grayscale8);
                if (grey.isNull()) throw std::bad_alloc();
                return [this, grey] {
                    try {
                        xtc_->add_page(GreyView{grey.constBits(), grey.width(), grey.height(), grey.bytesPerLine()});
                    } catch (const BookError& e) {
                        throw book_failure(path_, reason_of(e));
                    }
                };
            }
            QString reason;
            std::optional<QByteArray> file = settings_.page_encoding().encode(page, settings_, &reason);
            if (!file) throw book_failure(path_, reason);
            return [this, file = std::move(*file)] {
                try {
                    cbz_->add_page(file.constData(), std::size_t(file.size()));
                } catch (const BookError& e) {
                    throw book_failure(path_, reason_of(e));
                }
            };
        },
        bytes);
}

QStringList BookBinder::finish(const std::vector<ChapterStart>& chapters) {
    if ((xtc_ ? xtc_->page_count() : cbz_->page_count()) == 0)
        throw RunFailure(QStringLiteral("文本是空的，电子书至少要有一页：%1 没有写入。").arg(path_),
                         QStringLiteral("the text is empty and a book needs at least one page; %1 was not written")
                             .arg(path_));
    QStringList written;
    try {
        if (cbz_) {
            cbz_->finish();
            written << path_;
        } else {
            const std::vector<std::filesystem::path> files = xtc_->finish(chapter_table(chapters, xtc_->page_count()));
            // A book split past 65,535 pages: the files' names as the book's is shown.
            const QString folder = settings_.output_folder + QChar(path_separator);
            for (const auto& f : files)
                written << (files.size() == 1 ? path_ : folder + name_from_bytes(f.filename().string()));
        }
    } catch (const BookError& e) {
        throw book_failure(path_, reason_of(e));
    } catch (const std::invalid_argument& e) {
        throw book_failure(path_, reason_of(e));
    }
    return written;
}

std::vector<ChapterStart> chapter_starts(const std::vector<ChapterPage>& chapters, int contents) {
    std::vector<ChapterStart> starts;
    for (const ChapterPage& c : chapters)
        starts.push_back({utf8(c.title.trimmed()), static_cast<std::uint32_t>(page_after_contents(c.page, contents))});
    return starts;
}

std::vector<ContentsEntry> contents_entries(const std::vector<ChapterPage>& chapters, int contents) {
    std::vector<ContentsEntry> entries;
    for (const ChapterPage& c : chapters) entries.push_back({c.title, page_after_contents(c.page, contents)});
    return entries;
}

std::vector<ChapterPage> classic_chapters(std::u16string_view text, const PageStyle& style, bool drop_empty_lines,
                                          const typeset::ChapterRule& rule, int& pages,
                                          const std::function<bool()>& running) {
    // The headings among the text's lines, by the 1-based position of their first character.
    struct Heading {
        std::int64_t at;
        QString title;
    };
    std::vector<Heading> headings;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(u'\r', start);
        if (end == std::u16string_view::npos) end = text.size();
        const QStringView line(text.data() + start, qsizetype(end - start));
        if (rule.matches(line)) headings.push_back({std::int64_t(start) + 1, line.trimmed().toString()});
        start = end + 2;  // a CR is always followed by the LF the run skips with it
    }

    std::vector<ChapterPage> found;
    pages = 0;
    const auto length = static_cast<std::int64_t>(text.size());
    std::int32_t i = 1;
    std::u16string line;
    std::size_t next = 0;
    auto always = [] { return true; };
    auto nothing = [] {};
    while (i <= length && running()) {
        ++pages;
        double n = 0;
        while (n < style.lpp && i <= length) {
            build_line(text, i, style.cpl, line, always, nothing);
            if (line.empty() && drop_empty_lines) continue;
            n += 1;
        }
        for (; next < headings.size() && headings[next].at < i; ++next) found.push_back({headings[next].title, pages});
    }
    return found;
}

}  // namespace pagiro
