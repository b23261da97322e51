#pragma once
// The page estimate shared by the window's label and the run's progress and file
// names: the text length over the characters a page holds, rounded down.
#include <QString>
#include <optional>

#include "generator/typeset_settings.h"

namespace pagiro {

// From the control texts of the page height, font size and page width and the
// text length. Nothing when a setting is not a number or the rule would divide by
// zero (a font size of 0, or not one whole line or column on the page).
std::optional<double> estpages(const QString& height, const QString& font_size, const QString& width,
                               qsizetype text_length);

// Roughly the typeset pages a text makes: the characters a full box of em-wide
// characters at the line pitch holds, over the text. Nothing when not a line or
// column fits.
std::optional<double> typeset_estimate(const typeset::Style& style, qsizetype text_length);

// The same from the control texts, for typeset pages of `request` in the face
// `font`; nothing also when a setting is not a number or the margins leave no room.
std::optional<double> typeset_estpages(const QString& height, const QString& font_size, const QString& width,
                                       const QString& font, const TypesetRequest& request, qsizetype text_length);

}  // namespace pagiro
