#include "book/contents_page.h"

#include <algorithm>
#include <cmath>

namespace pagiro {
namespace {

constexpr char16_t kLeader = u'…';

// The text of a line as clusters of one character each (a surrogate pair is one).
std::vector<QString> characters(const QString& text) {
    std::vector<QString> out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        out.push_back(text.mid(i, n));
        i += n - 1;
    }
    return out;
}

// A line being put together glyph by glyph, at pen positions the caller chooses.
class LineBuilder {
public:
    LineBuilder(typeset::Page& page, typeset::Measurer& measurer, typeset::Face face, double y)
        : page_(page), measurer_(measurer) {
        line_.face = face;
        line_.y = y;
        line_.baseline = y + measurer.metrics(face).ascent;
        line_.first_glyph = static_cast<std::uint32_t>(page.glyphs.size());
        line_.paragraph_end = true;
    }
    double advance(const QString& cluster) { return measurer_.advance(cluster, line_.face); }
    // Puts `cluster` at `x`; returns where the next one goes.
    double put(const QString& cluster, double x) {
        const double a = advance(cluster);
        if (line_.glyph_count == 0) line_.x = x;
        page_.glyphs.push_back({static_cast<std::uint32_t>(line_.text.size()), static_cast<std::uint16_t>(cluster.size()),
                                static_cast<float>(x), static_cast<float>(a)});
        line_.text += cluster;
        ++line_.glyph_count;
        line_.width = x + a - line_.x;
        return x + a;
    }
    void done() {
        line_.end = static_cast<std::uint32_t>(line_.text.size());
        page_.lines.push_back(std::move(line_));
    }

private:
    typeset::Page& page_;
    typeset::Measurer& measurer_;
    typeset::Line line_;
};

void set_heading(typeset::Page& page, const typeset::Style& style, typeset::Measurer& measurer, double y) {
    LineBuilder line(page, measurer, typeset::Face::heading, y);
    const std::vector<QString> text = characters(QString::fromUtf16(kContentsHeading));
    double width = 0;
    for (const QString& c : text) width += line.advance(c);
    double x = style.left() + std::max(0.0, (style.box_width() - width) / 2);
    for (const QString& c : text) x = line.put(c, x);
    line.done();
}

void set_entry(typeset::Page& page, const typeset::Style& style, typeset::Measurer& measurer, double y,
               const ContentsEntry& entry) {
    LineBuilder line(page, measurer, typeset::Face::body, y);
    const double left = style.left(), right = style.left() + style.box_width();
    const double gap = measurer.metrics(typeset::Face::body).em / 4;
    const QString leader(kLeader);
    const double dot = line.advance(leader);

    const std::vector<QString> number = characters(QString::number(entry.page));
    double number_width = 0;
    for (const QString& c : number) number_width += line.advance(c);
    const double number_x = right - number_width;

    // The name, cut where it would leave no room for two leaders.
    std::vector<QString> name = characters(entry.title.trimmed());
    const double room = number_x - left - 2 * gap - 2 * dot;
    double name_width = 0;
    for (const QString& c : name) name_width += line.advance(c);
    if (name_width > room) {
        while (!name.empty() && name_width + dot > room) {
            name_width -= line.advance(name.back());
            name.pop_back();
        }
        name.push_back(leader);
        name_width += dot;
    }
    double x = left;
    for (const QString& c : name) x = line.put(c, x);
    // Leaders end a gap before the number, so that they line up from line to line.
    const int leaders = std::max(0, static_cast<int>(std::floor((number_x - gap - (x + gap)) / dot)));
    x = number_x - gap - leaders * dot;
    for (int k = 0; k < leaders; ++k) x = line.put(leader, x);
    x = number_x;
    for (const QString& c : number) x = line.put(c, x);
    line.done();
}

}  // namespace

std::vector<typeset::Page> typeset_contents(const std::vector<ContentsEntry>& entries, const typeset::Style& style,
                                            typeset::Measurer& measurer) {
    std::vector<typeset::Page> pages;
    const typeset::FaceMetrics body = measurer.metrics(typeset::Face::body);
    const typeset::FaceMetrics heading = measurer.metrics(typeset::Face::heading);
    const double pitch = body.em * style.line_spacing;
    const double limit = style.page_height - style.bottom();
    std::size_t next = 0;
    while (next < entries.size()) {
        typeset::Page page;
        double y = style.top();
        if (pages.empty()) {
            set_heading(page, style, measurer, y);
            // As after a chapter heading: its own pitch, then a blank line.
            y += heading.em * style.line_spacing + pitch;
        }
        // At least one entry a page, however small the page.
        bool placed = false;
        while (next < entries.size() && (!placed || y + body.ascent + body.descent <= limit + 0.5)) {
            set_entry(page, style, measurer, y, entries[next++]);
            y += pitch;
            placed = true;
        }
        pages.push_back(std::move(page));
    }
    return pages;
}

std::vector<ContentsPage> classic_contents(const std::vector<ContentsEntry>& entries, int columns, int lines,
                                           double (*columns_of)(char16_t)) {
    std::vector<ContentsPage> pages;
    if (entries.empty() || columns < 1 || lines < 1) return pages;
    auto width = [&](const std::u16string& s) {
        double w = 0;
        for (char16_t c : s) w += columns_of(c);
        return w;
    };
    const double dot = columns_of(kLeader);
    ContentsPage page{std::u16string(kContentsHeading)};
    for (const ContentsEntry& entry : entries) {
        if (static_cast<int>(page.size()) == lines) {
            pages.push_back(std::move(page));
            page.clear();
        }
        const QString digits = QString::number(entry.page);
        const std::u16string number(reinterpret_cast<const char16_t*>(digits.utf16()), std::size_t(digits.size()));
        const QString title = entry.title.trimmed();
        std::u16string name(reinterpret_cast<const char16_t*>(title.utf16()), std::size_t(title.size()));
        // The name, cut where it would leave no room for two leaders before the number.
        const double room = columns - width(number) - 2 * dot;
        if (width(name) > room) {
            while (!name.empty() && width(name) + dot > room) name.pop_back();
            if (!name.empty() && QChar::isHighSurrogate(name.back())) name.pop_back();
            name.push_back(kLeader);
        }
        // Leaders up to the number, and half-column blanks where a whole leader does not fit.
        const double fill = std::max(0.0, columns - width(name) - width(number));
        const int leaders = static_cast<int>(std::floor(fill / dot));
        const int blanks = static_cast<int>(std::lround((fill - leaders * dot) / columns_of(u' ')));
        page.push_back(name + std::u16string(std::size_t(blanks), u' ') + std::u16string(std::size_t(leaders), kLeader) +
                       number);
    }
    pages.push_back(std::move(page));
    return pages;
}

}  // namespace pagiro
