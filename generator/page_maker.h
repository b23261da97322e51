#pragma once
// Pages for a run's settings, one at a time, drawn exactly as the run writes them.
// The run makes its typeset pages with TypesetPages; the window's preview makes
// any page of either layout with PageMaker, which lays out only up to the page it
// is asked for and keeps where the pages start, so that paging on goes on from
// there instead of starting over.
#include <QImage>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "generator/settings.h"
#include "layout/page.h"

namespace pagiro {

namespace typeset {
class Measurer;
class QtMeasurer;
class Typesetter;
class PageRenderer;
}  // namespace typeset

// The typeset pages of a run: the typesetter lays each one out whole, the renderer
// draws it as its file holds it.
class TypesetPages {
public:
    // `settings` must be a typeset run's.
    explicit TypesetPages(const RunSettings& settings);
    ~TypesetPages();

    // The next page, or nothing once the text is used up.
    std::optional<typeset::Page> next();
    // `number` counts from 1 in the run; `total` is 0 when the footer does not show it.
    QImage draw(const typeset::Page& page, int number, int total);
    // Draws from now on with these settings' colours and rendering; the layout goes on.
    void draw_with(const RunSettings& settings);
    int pages_done() const;
    // The headings met so far, with the page each begins on.
    const std::vector<typeset::Chapter>& chapters() const;
    // What the pages are measured with (a book's contents pages are set with it too).
    typeset::Measurer& measurer();

private:
    std::unique_ptr<typeset::QtMeasurer> measurer_;
    std::unique_ptr<typeset::Typesetter> setter_;
    std::unique_ptr<typeset::PageRenderer> renderer_;
};

// Whether a run of these settings shows the page count in its footer, which needs
// the whole text laid out before the first page is drawn.
bool footer_shows_total(const RunSettings& settings);
// The typeset pages the text makes, and where its chapters begin; `going` is
// asked before each page and `after_page` runs after it; 0 comes back when
// `going` said stop.
int count_typeset_pages(const RunSettings& settings, const std::function<bool()>& going,
                        const std::function<void()>& after_page = {},
                        std::vector<typeset::Chapter>* chapters = nullptr);

// One page drawn for a preview.
struct MadePage {
    QImage image;
    int number = 0;         // counted from 1
    bool last = false;      // the text ends with this page
    // The page is the run's page: the text given went on past it, or was the whole
    // text. A page at the very end of a text's beginning may still change once the
    // rest of the text follows.
    bool settled = false;
};

class PageMaker {
public:
    // `whole_text`: the settings hold the whole source text, not its beginning.
    PageMaker(RunSettings settings, bool whole_text);
    ~PageMaker();

    // Page `number` (from 1), or the last page when the text makes fewer. Nothing
    // when the text makes no page at all or `going` said stop.
    std::optional<MadePage> page(int number, const std::function<bool()>& going);

    // Takes new settings. Where they lay the same text out the same way, the pages
    // laid out so far are kept and only the drawing changes; true then.
    bool adopt(RunSettings settings, bool whole_text);

    const RunSettings& settings() const { return settings_; }
    bool whole_text() const { return whole_; }

private:
    std::optional<MadePage> classic_page(int number, const std::function<bool()>& going);
    std::optional<MadePage> typeset_page(int number, const std::function<bool()>& going);
    // The typeset page `number`, laying out as far as needed; nothing past the end.
    const typeset::Page* typeset_layout(int number, const std::function<bool()>& going);
    void restart_typeset();

    RunSettings settings_;
    bool whole_ = false;
    std::u16string_view chars_;
    // Classic: the text position each page laid out so far starts at, and where
    // the next one starts.
    std::vector<std::int32_t> starts_;
    std::int32_t next_start_ = 1;
    // Typeset: the layout going on, and the latest pages it made (by number).
    std::unique_ptr<TypesetPages> typeset_;
    std::deque<std::pair<int, typeset::Page>> recent_;
    bool typeset_ended_ = false;
    std::optional<int> total_;  // the page count, when the footer shows it
};

}  // namespace pagiro
