// The run of typeset pages. It keeps the classic run's shape — a page named and
// shown as it starts, encoded on the pipeline's workers, written in page order,
// the same summary and the same stop — but a page is laid out whole by the
// typesetter and drawn by the page renderer.
#include "generator/gentpok.h"

#include "book/contents_page.h"
#include "generator/book_run.h"
#include "generator/page_maker.h"
#include "generator/page_pipeline.h"
#include "generator/page_writer.h"
#include "generator/run_state.h"
#include "layout/dump.h"
#include "platform/file_names.h"
#include "platform/page_file.h"
#include "platform/pump.h"

namespace pagiro {
namespace {

QString text_of(const typeset::Page& page) {
    QString text;
    for (const typeset::Line& line : page.lines) text += line.text;
    return text;
}

void write_dump(const QString& path, const QByteArray& dump) {
    std::string error;
    if (!write_page_file(bytes_of_name(path), dump.constData(), std::size_t(dump.size()), error))
        throw RunFailure(QStringLiteral("排版记录无法写入：%1（%2）").arg(path, QString::fromLocal8Bit(error.c_str())),
                         QStringLiteral("cannot write the layout dump %1: %2").arg(path, QString::fromLocal8Bit(error.c_str())));
}

std::vector<ChapterPage> chapter_pages(const std::vector<typeset::Chapter>& found) {
    std::vector<ChapterPage> chapters;
    for (const typeset::Chapter& c : found) chapters.push_back({c.title, c.page});
    return chapters;
}

}  // namespace

int gentpok::count_typeset_pages(const RunSettings& s, std::vector<ChapterPage>* chapters) {
    std::vector<typeset::Chapter> found;
    const int pages = pagiro::count_typeset_pages(s, [] { return mk::runflag != 0; }, [] { pump(); }, &found);
    if (chapters) *chapters = chapter_pages(found);
    return pages;
}

void gentpok::wtypeset(const RunSettings& s) {
    const RunScope scope(run_, s);
    const typeset::Style& style = s.typeset.style;
    TypesetPages pages(s);
    // Laid out ahead when the footer shows the total or the book lists its chapters.
    const bool footer_total = style.footer == typeset::FooterKind::page_number;
    const bool listing = s.book && s.book->contents;
    std::vector<ChapterPage> ahead;
    const int text_pages = footer_total || listing ? count_typeset_pages(s, &ahead) : 0;
    std::vector<typeset::Page> contents;
    if (listing) {
        const auto set = [&](int count) { return typeset_contents(contents_entries(ahead, count), style, pages.measurer()); };
        contents = set(static_cast<int>(set(0).size()));
    }
    const int total = footer_total ? text_pages + static_cast<int>(contents.size()) : 0;

    const bool dumping = !s.typeset.dump_layout.isEmpty();
    QByteArray dump;
    std::optional<BookBinder> binder;
    if (s.book) binder.emplace(s);
    PagePipeline pipeline;  // after the binder, so that its workers are done before the book goes
    // One page drawn and handed over, to the book or as a page file.
    const auto make_page = [&](const typeset::Page& page, int number) {
        PageFile file = showstat(s);
        host_.set_page_text(text_of(page));
        QImage image = pages.draw(page, number, total);
        if (dumping) dump += typeset::dump_page(page, number);
        if (host_.abandoned()) return false;
        if (binder)
            binder->hand_over(pipeline, std::move(image), 0);
        else
            hand_over(pipeline, s, std::move(image), std::move(file));
        mk::pageno += 1;
        return true;
    };
    mk::pageno = s.first_page;
    int number = 0;  // counted from 1 in the run, whatever the first page's file number
    try {
        // A failed write ends the run at once, as in the classic run.
        while (mk::runflag != 0 && !pipeline.failed()) {
            pump();
            std::optional<typeset::Page> page = pages.next();
            if (!page) break;
            if (!make_page(*page, ++number)) return;
            // The contents pages follow the first page.
            for (std::size_t k = 0; number == 1 && k < contents.size() && mk::runflag != 0; ++k)
                if (!make_page(contents[k], 1 + static_cast<int>(k) + 1)) return;
            if (number == 1) number += static_cast<int>(contents.size());
        }
        pipeline.finish();
    } catch (...) {
        settle_after_error(pipeline, s);
        throw;
    }
    if (host_.abandoned()) return;
    if (dumping) write_dump(s.typeset.dump_layout, dump);
    if (binder) bind_book(binder, chapter_pages(pages.chapters()), static_cast<int>(contents.size()));
    finish_run(s);
}

}  // namespace pagiro
