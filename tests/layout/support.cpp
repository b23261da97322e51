#include "support.h"

#include <QChar>
#include <QStringList>

namespace pagiro::typeset::test {

double FixedMeasurer::advance(QStringView cluster, Face face) {
    const double scale = face == Face::heading ? 2 : 1;
    return scale * (cluster.front().unicode() < 0x80 ? latin_ : cjk_);
}

FaceMetrics FixedMeasurer::metrics(Face face) {
    const double em = face == Face::heading ? 2 * cjk_ : cjk_;
    return {em * 0.9, em * 0.2, em};
}

Style fixed_style(int columns, int rows) {
    Style style;
    style.margin_left = style.margin_right = 20;
    style.margin_top = style.margin_bottom = 10;
    style.page_width = 40 + columns * 10;
    // Lines of a 10-pixel em at 1.5 spacing: a pitch of 15, a cell of 11.
    style.page_height = 20 + (rows - 1) * 15 + 11;
    style.font_size_pt = 7.5;  // 10 pixels
    return style;
}

namespace {

class Random {
public:
    explicit Random(unsigned seed) : state_(seed * 2654435761u + 1) {}
    unsigned next(unsigned n) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % n;
    }

private:
    unsigned state_;
};

const QString hanzi = QStringLiteral(
    "的一是了我不人在他有这个上们来到时大地为子中你说生国年着就那和要她出也得里后自以会家可下而过天去能对小多然于心学么之都好看起发当没成只如事把还用第样道想作种开美总从无情己面最女但现前些所同日手又行意动方期它头经长儿回位分爱老因很给名法间斯知世什两次使身者被高已亲其进此话常与活正感");
const QStringList latin = {QStringLiteral("hello world"), QStringLiteral("Python"), QStringLiteral("New York"),
                           QStringLiteral("e-mail"), QStringLiteral("Wi-Fi"), QStringLiteral("version 2.0"),
                           QStringLiteral("the quick brown fox")};
const QStringList marks = {QStringLiteral("，"), QStringLiteral("，"), QStringLiteral("，"), QStringLiteral("、"),
                           QStringLiteral("；"), QStringLiteral("：")};
const QStringList stops = {QStringLiteral("。"), QStringLiteral("。"), QStringLiteral("！"), QStringLiteral("？"),
                           QStringLiteral("……"), QStringLiteral("。”"), QStringLiteral("！”")};

QString words(Random& random, int count) {
    QString out;
    for (int i = 0; i < count; ++i) out += hanzi[random.next(static_cast<unsigned>(hanzi.size()))];
    return out;
}

QString sentence(Random& random) {
    QString out;
    switch (random.next(10)) {
    case 0: out += QStringLiteral("“") + words(random, 2 + random.next(6)); break;
    case 1: out += QStringLiteral("《") + words(random, 2 + random.next(4)) + QStringLiteral("》"); break;
    case 2: out += words(random, 1 + random.next(4)) + QStringLiteral("（") + words(random, 2) + QStringLiteral("）"); break;
    case 3: out += words(random, 2) + QStringLiteral(" ") + latin[random.next(static_cast<unsigned>(latin.size()))] + QStringLiteral(" "); break;
    case 4: out += QString::number(random.next(3000)) + QStringLiteral("年"); break;
    case 5: out += QStringLiteral("「") + words(random, 3) + QStringLiteral("」"); break;
    case 6: out += words(random, 2) + QStringLiteral("——"); break;
    default: break;
    }
    const unsigned clauses = 1 + random.next(3);
    for (unsigned c = 0; c < clauses; ++c) {
        out += words(random, 3 + random.next(12));
        out += c + 1 < clauses ? marks[random.next(static_cast<unsigned>(marks.size()))]
                               : stops[random.next(static_cast<unsigned>(stops.size()))];
    }
    return out;
}

}  // namespace

QString generated_novel(int chars, unsigned seed) {
    Random random(seed);
    QString text;
    int chapter = 0;
    int next_chapter = 0;
    while (text.size() < chars) {
        if (text.size() >= next_chapter) {
            ++chapter;
            text += QStringLiteral("第%1章 %2\r\n\r\n").arg(chapter).arg(words(random, 2 + random.next(5)));
            next_chapter = static_cast<int>(text.size()) + 2500 + static_cast<int>(random.next(3000));
        }
        if (random.next(2)) text += QStringLiteral("　　");
        const unsigned sentences = 1 + random.next(6);
        for (unsigned s = 0; s < sentences; ++s) text += sentence(random);
        text += random.next(8) == 0 ? QStringLiteral("\r\n\r\n\r\n") : QStringLiteral("\r\n");
    }
    return text;
}

QString scrambled_text(int length, unsigned seed) {
    static const char16_t pool[] = {u'a', u' ', u'\r', u'\n', u'，', u'“', u'”', u'（', u'国', 0x0301, 0xD840,
                                    0xDC00, 0x200D, u'-', u'\t', 0x3000, u'。', u'《', 0x0001, 0xFE0F};
    Random random(seed);
    QString text;
    for (int i = 0; i < length; ++i) text += QChar(pool[random.next(std::size(pool))]);
    return text;
}

std::vector<QString> line_texts(const std::vector<Page>& pages) {
    std::vector<QString> out;
    for (const Page& page : pages)
        for (const Line& line : page.lines) out.push_back(line.text);
    return out;
}

namespace {

bool skipped(QChar c) { return c.isSpace(); }  // blanks and line breaks

}  // namespace

std::string coverage_fault(const QString& text, const std::vector<Page>& pages) {
    qsizetype at = 0;  // everything before this has been accounted for
    auto where = [](int p, int l) { return "page " + std::to_string(p + 1) + " line " + std::to_string(l + 1) + ": "; };
    for (std::size_t p = 0; p < pages.size(); ++p) {
        const Page& page = pages[p];
        for (std::size_t l = 0; l < page.lines.size(); ++l) {
            const Line& line = page.lines[l];
            if (line.begin < at) return where(p, l) + "starts before the end of the line before it";
            for (qsizetype i = at; i < line.begin; ++i)
                if (!skipped(text[i]))
                    return where(p, l) + "character " + std::to_string(i) + " (U+" + QString::number(text[i].unicode(), 16).toStdString() + ") is missing";
            if (line.end <= line.begin || line.text != text.mid(line.begin, line.end - line.begin))
                return where(p, l) + "its text is not the source it claims";
            qsizetype g = line.begin;
            for (std::uint32_t k = 0; k < line.glyph_count; ++k) {
                const Glyph& glyph = page.glyphs[line.first_glyph + k];
                if (glyph.offset != g || glyph.length == 0) return where(p, l) + "its glyphs do not follow its text";
                g += glyph.length;
            }
            if (g != line.end) return where(p, l) + "its glyphs do not cover its text";
            at = line.end;
        }
    }
    for (qsizetype i = at; i < text.size(); ++i)
        if (!skipped(text[i])) return "character " + std::to_string(i) + " after the last line is missing";
    return {};
}

}  // namespace pagiro::typeset::test
