#pragma once
// Which lines of a novel are chapter headings. One rule for the whole product;
// a user's regular expression can replace it.
#include <QRegularExpression>
#include <QString>
#include <QStringView>
#include <optional>

namespace pagiro::typeset {

// After trimming: 第 + Chinese or Arabic numerals + 章 回 节 卷 部 篇 集, optionally
// followed by a title; "Chapter N"; 序, 序章, 楔子, 引子, 尾声, 后记, 番外 alone or
// with a title. Lines that read as sentences (long, or holding ，。) are not headings.
bool is_chapter_heading(QStringView line);

class ChapterRule {
public:
    ChapterRule() = default;  // the built-in rule
    // A user's pattern, searched in the trimmed line (anchor it to match whole
    // lines). Empty `error` on success, else why the pattern cannot be used.
    static std::optional<ChapterRule> from_pattern(const QString& pattern, QString& error);

    bool matches(QStringView line) const;

private:
    std::optional<QRegularExpression> pattern_;
};

}  // namespace pagiro::typeset
