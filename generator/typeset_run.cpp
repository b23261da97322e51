// The run of typeset pages. It keeps the classic run's shape — a page named and
// shown as it starts, encoded on the pipeline's workers, written in page order,
// the same summary and the same stop — but a page is laid out whole by the
// typesetter and drawn by the page renderer.
#include "generator/gentpok.h"

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

}  // namespace

void gentpok::wtypeset(const RunSettings& s) {
    const RunScope scope(run_, s);
    const int total =
        footer_shows_total(s) ? count_typeset_pages(s, [] { return mk::runflag != 0; }, [] { pump(); }) : 0;

    TypesetPages pages(s);
    const bool dumping = !s.typeset.dump_layout.isEmpty();
    QByteArray dump;
    PagePipeline pipeline;
    mk::pageno = s.first_page;
    int number = 0;  // counted from 1 in the run, whatever the first page's file number
    try {
        // A failed write ends the run at once, as in the classic run.
        while (mk::runflag != 0 && !pipeline.failed()) {
            pump();
            std::optional<typeset::Page> page = pages.next();
            if (!page) break;
            ++number;
            PageFile file = showstat(s);
            host_.set_page_text(text_of(*page));
            QImage image = pages.draw(*page, number, total);
            if (dumping) dump += typeset::dump_page(*page, number);
            if (host_.abandoned()) return;
            hand_over(pipeline, s, std::move(image), std::move(file));
            mk::pageno += 1;
        }
        pipeline.finish();
    } catch (...) {
        settle_after_error(pipeline, s);
        throw;
    }
    if (host_.abandoned()) return;
    if (dumping) write_dump(s.typeset.dump_layout, dump);
    finish_run(s);
}

}  // namespace pagiro
