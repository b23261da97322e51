#pragma once
// The pages of a run bound into one book file (XTC, XTCH or CBZ) instead of loose
// page files. Pages reach the binder as they reach the page files' writer: handed
// over in page order, encoded on the pipeline's workers (a comic book's PNG or JPEG,
// an Xteink book's grey copy), and added to the book in page order. The book gets its
// chapter table and its final name only when finish() is called; a run that stops or
// fails destroys the binder, and nothing under the book's name is left or replaced.
#include <QImage>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "book/chapters.h"
#include "book/contents_page.h"
#include "generator/layout.h"
#include "layout/chapter.h"

namespace pagiro {

struct RunSettings;
class PagePipeline;
class XtcWriter;
class CbzWriter;

class BookBinder {
public:
    // Starts the book `settings.book` names in the run's output folder. Throws
    // RunFailure when its file cannot be made.
    explicit BookBinder(const RunSettings& settings);
    ~BookBinder();
    BookBinder(const BookBinder&) = delete;
    BookBinder& operator=(const BookBinder&) = delete;

    // The book's file as the user is shown it.
    const QString& path() const { return path_; }

    // Hands the next page over; it holds `bytes` of memory until it is in the book.
    void hand_over(PagePipeline& pipeline, QImage page, std::size_t bytes);
    // Writes the chapter table and puts the book in place, once every page handed
    // over is in it. Returns the files written (more than one for a book split past
    // 65,535 pages). Throws RunFailure.
    QStringList finish(const std::vector<ChapterStart>& chapters);

private:
    const RunSettings& settings_;
    QString path_;
    std::unique_ptr<XtcWriter> xtc_;
    std::unique_ptr<CbzWriter> cbz_;
};

// Where the chapters of a book lie, counted in the pages of the text (from 1),
// before the contents pages are put in.
struct ChapterPage {
    QString title;
    int page = 0;
};

// The book's pages once `contents` contents pages follow its first page: a
// chapter's page and the chapter table's starts.
inline int page_after_contents(int page, int contents) { return page <= 1 ? page : page + contents; }
std::vector<ChapterStart> chapter_starts(const std::vector<ChapterPage>& chapters, int contents);
std::vector<ContentsEntry> contents_entries(const std::vector<ChapterPage>& chapters, int contents);

// The chapters of classic pages: the text's lines that the chapter rule takes for
// headings, each on the page where its first character is laid out, as the run
// lays the text out (the same lines per page, empty lines dropped or not). The
// page count goes to `pages`. Asks `running()` before every page and returns what
// it found so far once that says no.
std::vector<ChapterPage> classic_chapters(std::u16string_view text, const PageStyle& style, bool drop_empty_lines,
                                          const typeset::ChapterRule& rule, int& pages,
                                          const std::function<bool()>& running);

}  // namespace pagiro
