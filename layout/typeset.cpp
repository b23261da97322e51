#include "layout/typeset.h"

#include "layout/line_rules.h"

#include <unicode/ubrk.h>

#include <QChar>
#include <algorithm>
#include <stdexcept>

namespace pagiro::typeset {
namespace {

// Widths are sums of fractional advances; a hair's overrun is not an overflow.
constexpr double tolerance = 0.01;

bool starts_with_cjk(QStringView text) {
    // Chinese dialogue opens with a quotation mark; the indent follows the words.
    for (std::size_t p = 0, n = static_cast<std::size_t>(text.size()); p < n; p = cluster_end(text, p)) {
        const char32_t c = code_point_at(text, p);
        if (is_cjk(c) && !is_opening(c) && !is_no_start(c)) return true;
        const QChar::Category cat = QChar::category(c);
        if (cat < QChar::Punctuation_Connector || cat > QChar::Punctuation_Other) return false;
    }
    return false;
}

}  // namespace

void Typesetter::BreakIteratorClose::operator()(UBreakIterator* it) const { ubrk_close(it); }

Typesetter::Typesetter(QString text, const Style& style, Measurer& measurer, ChapterRule rule)
    : text_(std::move(text)), style_(style), measurer_(measurer), rule_(std::move(rule)) {
    UErrorCode status = U_ZERO_ERROR;
    breaker_.reset(ubrk_open(UBRK_LINE, "zh", nullptr, 0, &status));
    if (U_FAILURE(status)) throw std::runtime_error(std::string("ICU line breaker: ") + u_errorName(status));
}

Typesetter::~Typesetter() = default;

bool Typesetter::open_paragraph() {
    const QStringView text(text_);
    const auto size = static_cast<std::uint32_t>(text.size());
    bool blank_lines = false;
    while (next_ < size) {
        std::uint32_t end = next_;
        while (end < size && !is_line_break(text[end].unicode())) ++end;
        std::uint32_t b = next_, e = end;
        // Blanks one by one: a mark after a blank must not go with it.
        while (b < e && is_blank(text[b].unicode())) ++b;
        while (e > b && is_blank(text[e - 1].unicode())) --e;
        next_ = end;
        if (next_ < size) next_ += (text[next_] == u'\r' && next_ + 1 < size && text[next_ + 1] == u'\n') ? 2 : 1;
        if (b >= e) {
            blank_lines = true;
            continue;
        }
        const FaceMetrics body = measurer_.metrics(Face::body);
        if (blank_lines && had_paragraph_) pending_gap_ = std::max(pending_gap_, body.em * style_.line_spacing);
        had_paragraph_ = true;
        para_.begin = para_.pos = b;
        para_.end = e;
        const QStringView words = text.mid(b, e - b);
        para_.face = rule_.matches(words) ? Face::heading : Face::body;
        para_.indent = (para_.face == Face::body && starts_with_cjk(words)) ? style_.indent_ems * body.em : 0;
        find_opportunities();
        return true;
    }
    return false;
}

void Typesetter::find_opportunities() {
    const std::uint32_t length = para_.end - para_.begin;
    para_.may_break.assign(length + 1, 0);
    UErrorCode status = U_ZERO_ERROR;
    ubrk_setText(breaker_.get(), reinterpret_cast<const UChar*>(text_.constData()) + para_.begin,
                 static_cast<int32_t>(length), &status);
    if (U_FAILURE(status)) throw std::runtime_error(std::string("ICU line breaker: ") + u_errorName(status));
    for (int32_t at = ubrk_first(breaker_.get()); at != UBRK_DONE; at = ubrk_next(breaker_.get()))
        para_.may_break[static_cast<std::size_t>(at)] = 1;
}

bool Typesetter::break_allowed(std::uint32_t at, std::uint32_t last_cluster_begin) const {
    if (at >= para_.end) return true;
    if (!para_.may_break[at - para_.begin]) return false;
    const QStringView text(text_);
    return !is_no_start(code_point_at(text, at)) && !is_opening(code_point_at(text, last_cluster_begin));
}

Overhang Typesetter::overhang(const Cluster& cluster) {
    if (cluster.blank) return {};
    return measurer_.overhang(QStringView(text_).mid(cluster.begin, cluster.end - cluster.begin), para_.face);
}

double Typesetter::advance(std::uint32_t begin, std::uint32_t end, Face face) {
    const QStringView text(text_);
    const char32_t c = code_point_at(text, begin);
    if (c == U'\t') return measurer_.advance(u" ", face);
    const QChar::Category cat = QChar::category(c);
    if (end - begin == 1 && (cat == QChar::Other_Control || cat == QChar::Other_Format)) return 0;
    return measurer_.advance(text.mid(begin, end - begin), face);
}

// Fills clusters_ from the paragraph's position with what fits in `room` and
// returns how many of them make the line.
std::size_t Typesetter::choose_end(double room, bool& hung) {
    const QStringView text(text_);
    clusters_.clear();
    hung = false;
    std::size_t last_break = 0;  // clusters before the last allowed break
    double width = 0;
    for (std::uint32_t pos = para_.pos; pos < para_.end;) {
        const auto end = static_cast<std::uint32_t>(std::min<std::size_t>(cluster_end(text, pos), para_.end));
        const char32_t c = code_point_at(text, pos);
        const Cluster cluster{pos, end, advance(pos, end, para_.face), is_blank(c)};
        if (clusters_.empty()) room -= overhang(cluster).left;
        if (!cluster.blank && !clusters_.empty() && width + cluster.advance + overhang(cluster).right > room + tolerance) {
            if (para_.face == Face::body && may_hang(c) && cluster.advance <= style_.right() &&
                break_allowed(end, pos)) {
                clusters_.push_back(cluster);
                hung = true;
                return clusters_.size();
            }
            if (last_break > 0) return last_break;
            // One piece longer than the line: break between clusters, still keeping
            // closing marks off the line start and opening ones off its end.
            for (std::size_t n = clusters_.size(); n > 0; --n) {
                const std::uint32_t next = n < clusters_.size() ? clusters_[n].begin : pos;
                if (!is_no_start(code_point_at(text, next)) && !is_opening(code_point_at(text, clusters_[n - 1].begin)))
                    return n;
            }
            return clusters_.size();
        }
        clusters_.push_back(cluster);
        width += cluster.advance;
        pos = end;
        if (break_allowed(pos, cluster.begin)) last_break = clusters_.size();
    }
    return clusters_.size();
}

// Whether justification may widen the gap after the i-th cluster of the line:
// next to a Chinese character or mark, not inside a Latin word.
bool Typesetter::character_gap(std::size_t i) const {
    const QStringView text(text_);
    return is_cjk(code_point_at(text, clusters_[i].begin)) || is_cjk(code_point_at(text, clusters_[i + 1].begin));
}

void Typesetter::place(Page& page, Line& line, std::size_t count, bool hung, double room) {
    std::size_t visible = count;
    while (visible > 0 && clusters_[visible - 1].blank) --visible;
    const std::size_t content = visible - (hung ? 1 : 0);  // what is justified inside the box
    double natural = 0;
    std::size_t inner_blanks = 0;
    for (std::size_t i = 0; i < content; ++i) {
        natural += clusters_[i].advance;
        if (clusters_[i].blank) ++inner_blanks;
    }
    const double em = measurer_.metrics(para_.face).em;
    const bool first = para_.pos == para_.begin;
    // Ink that reaches past the first or last glyph's box stays inside the text box.
    if (content > 0) room -= overhang(clusters_[0]).left + overhang(clusters_[content - 1]).right;
    double x = style_.left() + (first ? para_.indent : 0) + (count > 0 ? overhang(clusters_[0]).left : 0);
    double per_gap = 0, per_blank = 0;
    const bool last = clusters_[count - 1].end >= para_.end;
    if (para_.face == Face::heading) {
        x = style_.left() + std::max(0.0, (style_.box_width() - natural) / 2);
    } else if ((!last || hung) && content > 1 && room > natural) {
        // A line that had to hang a mark is full, even at a paragraph's end.
        // Chinese takes the slack between characters; Latin letters of a word
        // stay together and leave it to the spaces.
        std::size_t gaps = 0;
        for (std::size_t i = 0; i + 1 < content; ++i) gaps += character_gap(i);
        const double slack = room - natural;
        if (gaps > 0) per_gap = std::min(slack / static_cast<double>(gaps), 0.25 * em);
        const double rest = slack - per_gap * static_cast<double>(gaps);
        if (inner_blanks > 0) per_blank = rest / static_cast<double>(inner_blanks);
        line.justified = gaps > 0 || inner_blanks > 0;
    }
    line.x = x;
    line.first_glyph = static_cast<std::uint32_t>(page.glyphs.size());
    line.glyph_count = static_cast<std::uint32_t>(count);
    double visible_end = x;
    for (std::size_t i = 0; i < count; ++i) {
        const Cluster& c = clusters_[i];
        page.glyphs.push_back({c.begin, static_cast<std::uint16_t>(c.end - c.begin), static_cast<float>(x),
                               static_cast<float>(c.advance)});
        x += c.advance;
        if (i < visible) visible_end = x;
        if (i + 1 < content) x += (character_gap(i) ? per_gap : 0) + (c.blank ? per_blank : 0);
    }
    line.width = visible_end - line.x;
    if (hung) line.hang = std::max(0.0, visible_end - (style_.left() + style_.box_width()));
}

void Typesetter::set_line(Page& page, double y) {
    const double indent = para_.pos == para_.begin ? para_.indent : 0;
    const double room = style_.box_width() - indent;
    bool hung = false;
    std::size_t count = choose_end(room, hung);
    // Blanks after the break belong to this line's end, so that none starts the next.
    const QStringView text(text_);
    std::uint32_t end = clusters_[count - 1].end;
    clusters_.resize(count);
    while (end < para_.end && is_blank(code_point_at(text, end))) {
        const auto e = static_cast<std::uint32_t>(std::min<std::size_t>(cluster_end(text, end), para_.end));
        clusters_.push_back({end, e, advance(end, e, para_.face), true});
        end = e;
    }
    count = clusters_.size();

    Line line;
    line.begin = para_.pos;
    line.end = end;
    line.text = text_.mid(line.begin, line.end - line.begin);
    line.face = para_.face;
    const FaceMetrics m = measurer_.metrics(para_.face);
    line.y = y;
    line.baseline = y + m.ascent;
    line.paragraph_end = end >= para_.end;
    place(page, line, count, hung, room);
    page.lines.push_back(std::move(line));
    para_.pos = end;
}

std::optional<Page> Typesetter::next_page() {
    if (finished_) return std::nullopt;
    Page page;
    page.chapter_title = chapter_title_;
    double y = style_.top();
    const double limit = style_.page_height - style_.bottom();
    const double body_em = measurer_.metrics(Face::body).em;
    for (;;) {
        if (!in_paragraph_) {
            if (!open_paragraph()) {
                finished_ = true;
                break;
            }
            in_paragraph_ = true;
            if (para_.face == Face::heading && style_.heading_new_page && !page.lines.empty()) {
                pending_gap_ = 0;
                break;
            }
        }
        if (!page.lines.empty()) y += pending_gap_;
        pending_gap_ = 0;
        const FaceMetrics m = measurer_.metrics(para_.face);
        if (!page.lines.empty() && y + m.ascent + m.descent > limit + tolerance) break;
        if (para_.face == Face::heading && para_.pos == para_.begin) {
            chapter_title_ = text_.mid(para_.begin, para_.end - para_.begin);
            chapters_.push_back({chapter_title_, pages_done_ + 1});
            if (page.lines.empty()) page.chapter_title = chapter_title_;
        }
        set_line(page, y);
        y += m.em * style_.line_spacing;
        if (para_.pos >= para_.end) {
            in_paragraph_ = false;
            pending_gap_ = style_.paragraph_spacing * body_em +
                           (para_.face == Face::heading ? body_em * style_.line_spacing : 0);
        }
    }
    if (page.lines.empty()) return std::nullopt;
    ++pages_done_;
    return page;
}

std::vector<Page> typeset_all(const QString& text, const Style& style, Measurer& measurer,
                              std::vector<Chapter>* chapters, ChapterRule rule) {
    Typesetter typesetter(text, style, measurer, std::move(rule));
    std::vector<Page> pages;
    while (auto page = typesetter.next_page()) pages.push_back(std::move(*page));
    if (chapters) *chapters = typesetter.chapters();
    return pages;
}

}  // namespace pagiro::typeset
