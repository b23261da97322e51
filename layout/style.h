#pragma once
// How a typeset page looks: the page box, the face and the spacing. One value,
// filled once from the settings; the layout and the renderer only read it.
#include <QString>

namespace pagiro::typeset {

enum class FooterKind { none, page_number, chapter_title };

struct Style {
    int page_width = 480;
    int page_height = 800;
    // Margins in pixels; a negative margin means the default, 6% of the shorter page side.
    int margin_left = -1, margin_top = -1, margin_right = -1, margin_bottom = -1;

    QString font_family = QStringLiteral("Noto Serif CJK SC");
    double font_size_pt = 16;     // points at 96 dpi, as the classic pages count them
    double line_spacing = 1.5;    // line pitch as a multiple of the font size
    double paragraph_spacing = 0; // extra space after a paragraph, in ems
    double indent_ems = 2;        // first-line indent of a paragraph that starts with a CJK character

    bool heading_new_page = true;
    double heading_scale = 1.4;   // heading size relative to the body text

    FooterKind footer = FooterKind::none;
    double footer_scale = 0.7;

    int font_pixels() const;
    int heading_pixels() const;
    int footer_pixels() const;
    int left() const;    // the resolved margins
    int top() const;
    int right() const;
    int bottom() const;
    int box_width() const { return page_width - left() - right(); }
    int box_height() const { return page_height - top() - bottom(); }

    // Empty when the style can lay out text, else what is wrong, in plain English.
    QString check() const;

    bool operator==(const Style&) const = default;
};

// The face setup gives typeset pages, and the one tried when it is missing.
inline constexpr const char* default_family = "Noto Serif CJK SC";
inline constexpr const char* fallback_family = "AR PL UMing CN";

}  // namespace pagiro::typeset
