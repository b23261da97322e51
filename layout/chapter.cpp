#include "layout/chapter.h"

namespace pagiro::typeset {
namespace {

// A heading is a short line; a longer one is body text that happens to begin like one.
constexpr qsizetype longest_heading = 40;

const QRegularExpression& numbered() {
    static const QRegularExpression re(QStringLiteral(
        "^第[0-9０-９零〇一二三四五六七八九十百千万两壹贰叁肆伍陆柒捌玖拾佰仟]+[章回节卷部篇集]"
        "(?:$|[\\s　:：·、.\\-—]|(?![合家目门团课])\\S)"));
    return re;
}

const QRegularExpression& english() {
    static const QRegularExpression re(QStringLiteral("^chapter\\s+(?:\\d+|[ivxlcdm]+)\\b"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}

const QRegularExpression& named() {
    static const QRegularExpression re(QStringLiteral(
        "^(?:序章|序|楔子|引子|尾声|后记|番外(?:[篇]|[0-9一二三四五六七八九十]+)?)(?:$|[\\s　:：·、\\-—])"));
    return re;
}

QStringView trimmed(QStringView line) {
    qsizetype b = 0, e = line.size();
    while (b < e && (line[b].isSpace())) ++b;
    while (e > b && (line[e - 1].isSpace())) --e;
    return line.mid(b, e - b);
}

}  // namespace

bool is_chapter_heading(QStringView line) {
    const QStringView t = trimmed(line);
    if (t.isEmpty() || t.size() > longest_heading) return false;
    if (t.contains(u'，') || t.contains(u'。')) return false;
    return numbered().match(t).hasMatch() || english().match(t).hasMatch() || named().match(t).hasMatch();
}

std::optional<ChapterRule> ChapterRule::from_pattern(const QString& pattern, QString& error) {
    QRegularExpression re(pattern, QRegularExpression::UseUnicodePropertiesOption);
    if (!re.isValid()) {
        error = QStringLiteral("the chapter pattern is not a valid regular expression: %1 (at offset %2)")
                    .arg(re.errorString())
                    .arg(re.patternErrorOffset());
        return std::nullopt;
    }
    error.clear();
    ChapterRule rule;
    rule.pattern_ = std::move(re);
    return rule;
}

bool ChapterRule::matches(QStringView line) const {
    if (!pattern_) return is_chapter_heading(line);
    const QStringView t = trimmed(line);
    return !t.isEmpty() && pattern_->match(t).hasMatch();
}

}  // namespace pagiro::typeset
