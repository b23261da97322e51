#pragma once
// The page estimate shared by the window's label and the run's progress and file
// names: the text length over the characters a page holds, rounded down.
#include <QString>
#include <optional>

namespace pagiro {

// From the control texts of the page height, font size and page width and the
// text length. Nothing when a setting is not a number or the rule would divide by
// zero (a font size of 0, or not one whole line or column on the page).
std::optional<double> estpages(const QString& height, const QString& font_size, const QString& width,
                               qsizetype text_length);

}  // namespace pagiro
