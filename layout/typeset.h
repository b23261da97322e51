#pragma once
// The typeset layout: text → paragraphs → lines → pages, one page at a time, so
// that a preview lays out only up to the page it shows and a run streams pages.
//
// A line break ends a paragraph; a run of empty lines becomes one gap of a line's
// height; a paragraph's leading and trailing blanks give way to the first-line
// indent. Lines break where Unicode line breaking allows (ICU) and the Chinese
// rules do not forbid: no line starts with a closing mark, none ends with an
// opening one. A closing mark that overflows may hang into the right margin;
// otherwise the last breakable piece moves to the next line. Full lines are
// justified to the right edge, by at most a quarter em beside each Chinese
// character and the rest between words (never inside a Latin word); a
// paragraph's last line stays ragged.
#include "layout/chapter.h"
#include "layout/measure.h"
#include "layout/page.h"
#include "layout/style.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct UBreakIterator;

namespace pagiro::typeset {

class Typesetter {
public:
    // `measurer` must outlive the typesetter. The style must pass check().
    Typesetter(QString text, const Style& style, Measurer& measurer, ChapterRule rule = {});
    ~Typesetter();
    Typesetter(const Typesetter&) = delete;
    Typesetter& operator=(const Typesetter&) = delete;

    // The next page, or nothing once the text is used up.
    std::optional<Page> next_page();
    bool finished() const { return finished_; }
    int pages_done() const { return pages_done_; }
    // The headings met so far, with the page each begins on.
    const std::vector<Chapter>& chapters() const { return chapters_; }
    const QString& text() const { return text_; }

private:
    struct Cluster {
        std::uint32_t begin, end;
        double advance;
        bool blank;
    };
    struct Paragraph {
        std::uint32_t begin = 0, end = 0, pos = 0;
        Face face = Face::body;
        double indent = 0;
        std::vector<std::uint8_t> may_break;  // ICU's opportunities, by offset from `begin`
    };

    bool open_paragraph();
    void find_opportunities();
    bool break_allowed(std::uint32_t at, std::uint32_t last_cluster_begin) const;
    double advance(std::uint32_t begin, std::uint32_t end, Face face);
    Overhang overhang(const Cluster& cluster);
    void set_line(Page& page, double y);
    std::size_t choose_end(double room, bool& hung);
    bool character_gap(std::size_t i) const;
    void place(Page& page, Line& line, std::size_t count, bool hung, double room);

    QString text_;
    Style style_;
    Measurer& measurer_;
    ChapterRule rule_;
    struct BreakIteratorClose {
        void operator()(UBreakIterator* it) const;
    };
    std::unique_ptr<UBreakIterator, BreakIteratorClose> breaker_;

    std::uint32_t next_ = 0;     // where the next paragraph's search starts
    bool in_paragraph_ = false;
    bool had_paragraph_ = false;
    Paragraph para_;
    double pending_gap_ = 0;
    bool finished_ = false;
    int pages_done_ = 0;
    QString chapter_title_;
    std::vector<Chapter> chapters_;
    std::vector<Cluster> clusters_;  // the line being set
};

// Every page of `text` at once; for tests and short texts.
std::vector<Page> typeset_all(const QString& text, const Style& style, Measurer& measurer,
                              std::vector<Chapter>* chapters = nullptr, ChapterRule rule = {});

}  // namespace pagiro::typeset
