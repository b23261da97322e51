#include "generator/page_maker.h"

#include <algorithm>
#include <climits>

#include "book/xtc_page.h"
#include "generator/formats.h"
#include "generator/page_writer.h"
#include "layout/qt_measurer.h"
#include "layout/typeset.h"
#include "render/page_renderer.h"

namespace pagiro {
namespace {

// Pages kept drawn-ready behind the latest one, so that paging back a little
// does not lay the text out again from its start.
constexpr std::size_t kRecentPages = 16;

QRgb rgb_of(std::uint32_t bgr) { return qRgb(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

typeset::RenderOptions render_options(const RunSettings& s) {
    typeset::RenderOptions o;
    o.text = rgb_of(s.text_colour);
    o.background = rgb_of(s.background_colour);
    // Grey pages are drawn in grey where the encoder takes them; the others take colour pixels.
    o.colour = !s.page_encoding().takes_grey || s.png_kind == typeset::PngKind::colour;
    o.antialias = !s.typeset.mono;
    o.ink_weight = s.typeset.ink_weight;
    return o;
}

// The same characters; a shared copy is known to be without reading it.
bool same_text(const QString& a, const QString& b) {
    if (a.size() != b.size()) return false;
    return a.constData() == b.constData() || a == b;
}

bool same_layout(const RunSettings& a, const RunSettings& b) {
    if (a.layout != b.layout || !same_text(a.text, b.text)) return false;
    if (a.layout == LayoutMode::classic)
        return a.style.cpl == b.style.cpl && a.style.lpp == b.style.lpp && a.drop_empty_lines == b.drop_empty_lines;
    return a.typeset.style == b.typeset.style && a.typeset.chapter_pattern == b.typeset.chapter_pattern;
}

// A page of an e-ink book as the reader will show it: made grey as the book's
// writer makes it, then reduced to the book's greys. Other pages are their files'.
QImage as_bound(QImage page, const RunSettings& s) {
    const BookKind kind = s.format ? s.format->book : BookKind::none;
    if (kind != BookKind::xtc && kind != BookKind::xtch) return page;
    QImage grey = page.format() == QImage::Format_Grayscale8 ? std::move(page)
                                                             : page.convertToFormat(QImage::Format_Grayscale8);
    std::uint8_t shown[256];
    for (int v = 0; v < 256; ++v) {
        const auto g = static_cast<std::uint8_t>(v);
        shown[v] = kind == BookKind::xtc ? xtg_shown(g) : xth_shown(g);
    }
    for (int y = 0; y < grey.height(); ++y) {
        std::uint8_t* row = grey.scanLine(y);
        for (int x = 0; x < grey.width(); ++x) row[x] = shown[row[x]];
    }
    return grey;
}

}  // namespace

TypesetPages::TypesetPages(const RunSettings& s)
    : measurer_(std::make_unique<typeset::QtMeasurer>(s.typeset.style)),
      setter_(std::make_unique<typeset::Typesetter>(s.text, s.typeset.style, *measurer_, s.chapter_rule)),
      renderer_(std::make_unique<typeset::PageRenderer>(s.typeset.style, render_options(s))) {}

TypesetPages::~TypesetPages() = default;

std::optional<typeset::Page> TypesetPages::next() { return setter_->next_page(); }

QImage TypesetPages::draw(const typeset::Page& page, int number, int total) {
    return renderer_->render(page, {number, total});
}

void TypesetPages::draw_with(const RunSettings& s) {
    renderer_ = std::make_unique<typeset::PageRenderer>(s.typeset.style, render_options(s));
}

int TypesetPages::pages_done() const { return setter_->pages_done(); }

const std::vector<typeset::Chapter>& TypesetPages::chapters() const { return setter_->chapters(); }

typeset::Measurer& TypesetPages::measurer() { return *measurer_; }

bool footer_shows_total(const RunSettings& s) {
    return s.layout == LayoutMode::typeset && s.typeset.style.footer == typeset::FooterKind::page_number;
}

int count_typeset_pages(const RunSettings& s, const std::function<bool()>& going,
                        const std::function<void()>& after_page, std::vector<typeset::Chapter>* chapters) {
    typeset::QtMeasurer measurer(s.typeset.style);
    typeset::Typesetter counter(s.text, s.typeset.style, measurer, s.chapter_rule);
    while (going() && counter.next_page())
        if (after_page) after_page();
    if (chapters) *chapters = counter.chapters();
    return going() ? counter.pages_done() : 0;
}

PageMaker::PageMaker(RunSettings settings, bool whole_text) { adopt(std::move(settings), whole_text); }

PageMaker::~PageMaker() = default;

bool PageMaker::adopt(RunSettings settings, bool whole_text) {
    const bool kept = typeset_ || !starts_.empty() ? same_layout(settings_, settings) : false;
    const bool same_total = kept && whole_ == whole_text;
    settings_ = std::move(settings);
    whole_ = whole_text;
    chars_ = std::u16string_view(reinterpret_cast<const char16_t*>(settings_.text.utf16()),
                                 std::size_t(settings_.text.size()));
    if (!same_total) total_.reset();
    if (kept) {
        if (typeset_) typeset_->draw_with(settings_);
        return true;
    }
    starts_.clear();
    next_start_ = 1;
    typeset_.reset();
    recent_.clear();
    typeset_ended_ = false;
    return false;
}

std::optional<MadePage> PageMaker::page(int number, const std::function<bool()>& going) {
    // The page after the one asked for is laid out too: it says whether this is the last.
    number = std::clamp(number, 1, INT_MAX - 1);
    std::optional<MadePage> made =
        settings_.layout == LayoutMode::classic ? classic_page(number, going) : typeset_page(number, going);
    if (made) made->image = as_bound(std::move(made->image), settings_);
    return made;
}

std::optional<MadePage> PageMaker::classic_page(int number, const std::function<bool()>& going) {
    const auto length = static_cast<std::int64_t>(chars_.size());
    // Lay out up to the start of the page after the one asked for: whether it
    // exists says whether the page is the last.
    while (int(starts_.size()) <= number && next_start_ <= length) {
        if (!going()) return std::nullopt;
        starts_.push_back(next_start_);
        lay_out_page(chars_, settings_.style, settings_.drop_empty_lines, next_start_);
    }
    if (starts_.empty()) return std::nullopt;
    const int shown = std::min(number, int(starts_.size()));
    std::int32_t at = starts_[std::size_t(shown - 1)];
    const LaidOutPage laid = lay_out_page(chars_, settings_.style, settings_.drop_empty_lines, at);
    MadePage made;
    made.image = draw_page(settings_, laid.lines);
    made.number = shown;
    made.last = shown == int(starts_.size()) && next_start_ > length;
    made.settled = whole_ || !made.last;
    return made;
}

void PageMaker::restart_typeset() {
    typeset_ = std::make_unique<TypesetPages>(settings_);
    recent_.clear();
    typeset_ended_ = false;
}

const typeset::Page* PageMaker::typeset_layout(int number, const std::function<bool()>& going) {
    if (!typeset_ || (!recent_.empty() && number < recent_.front().first) ||
        (recent_.empty() && typeset_->pages_done() >= number))
        restart_typeset();
    while (!typeset_ended_ && typeset_->pages_done() < number) {
        if (!going()) return nullptr;
        std::optional<typeset::Page> next = typeset_->next();
        if (!next) {
            typeset_ended_ = true;
            break;
        }
        recent_.emplace_back(typeset_->pages_done(), std::move(*next));
        if (recent_.size() > kRecentPages) recent_.pop_front();
    }
    for (auto& [n, page] : recent_)
        if (n == number) return &page;
    return nullptr;
}

std::optional<MadePage> PageMaker::typeset_page(int number, const std::function<bool()>& going) {
    // Whether a next page exists settles whether this one is the last.
    typeset_layout(number + 1, going);
    if (!going()) return std::nullopt;
    if (!typeset_ || typeset_->pages_done() == 0) return std::nullopt;
    const int shown = std::min(number, typeset_->pages_done());
    const typeset::Page* page = typeset_layout(shown, going);
    if (!page) return std::nullopt;
    if (footer_shows_total(settings_) && !total_) {
        const int total = count_typeset_pages(settings_, going);
        if (!going()) return std::nullopt;
        total_ = total;
    }
    MadePage made;
    made.image = typeset_->draw(*page, shown, total_.value_or(0));
    made.number = shown;
    made.last = typeset_ended_ && shown == typeset_->pages_done();
    // The count in the footer is the whole text's.
    made.settled = whole_ || (!made.last && !footer_shows_total(settings_));
    return made;
}

}  // namespace pagiro
