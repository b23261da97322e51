#pragma once
// Shared by the layout and render tests: a fixed-width measurer, a generated
// novel, and checks that read a laid-out book as data.
#include "layout/measure.h"
#include "layout/page.h"
#include "layout/style.h"

#include <QString>
#include <string>
#include <vector>

namespace pagiro::typeset::test {

// Every cluster is `cjk` pixels wide, or `latin` for ASCII; known numbers make
// line contents predictable.
class FixedMeasurer : public Measurer {
public:
    explicit FixedMeasurer(double cjk = 10, double latin = 5) : cjk_(cjk), latin_(latin) {}
    double advance(QStringView cluster, Face face) override;
    FaceMetrics metrics(Face face) override;

private:
    double cjk_, latin_;
};

// A style whose text box is `columns` CJK cells of the fixed measurer wide.
Style fixed_style(int columns, int rows = 10);

// A deterministic novel of about `chars` characters: chapters, dialogue in
// quotation marks, every kind of Chinese punctuation, Latin words and numbers,
// author's indents and runs of empty lines.
QString generated_novel(int chars, unsigned seed = 1);

// `length` code units drawn from line breaks, blanks, punctuation, marks, joiners,
// controls and halves of surrogate pairs.
QString scrambled_text(int length, unsigned seed);

// The text of every line of `pages`, in order.
std::vector<QString> line_texts(const std::vector<Page>& pages);

// "" when every character of `text` but blanks and line breaks appears in the
// lines exactly once and in order (and each line's glyphs tile its text);
// otherwise the first fault found.
std::string coverage_fault(const QString& text, const std::vector<Page>& pages);

}  // namespace pagiro::typeset::test
