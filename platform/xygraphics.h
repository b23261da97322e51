#pragma once
// Our own "XY.Graphics": the object that draws a GIF page and writes it. The run
// creates one and, for every page, calls New, IsTrans, TransColor, then SetFont
// and SetText for each line, then SaveAs and Close. Values that come from the
// settings arrive as the texts they are and are converted here; a text that is
// not a number raises VbError 13.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "pixel_view.h"

namespace pagiro {

class PageSurface;

class XYGraphics {
public:
    XYGraphics();
    ~XYGraphics();
    XYGraphics(const XYGraphics&) = delete;
    XYGraphics& operator=(const XYGraphics&) = delete;

    // Whether GIF pages can be made here: a GUI application exists to draw text
    // and giflib can encode a picture.
    static bool available();

    // Starts a picture of width × height filled with the background colour
    // (0x00BBGGRR), not transparent until IsTrans(true).
    void New(const QString& width, const QString& height, const QString& back_colour);
    void IsTrans(bool transparent);
    // The colour whose table entry is marked transparent.
    void TransColor(const QString& colour);
    // The same calls with the values already converted, for a caller that holds
    // them as numbers (a run converts its settings once).
    void New(double width, double height, std::uint32_t back_colour);
    void TransColor(std::uint32_t colour);
    void SetFont(const QString& name, double points, std::int16_t style, std::uint32_t text_colour,
                 std::uint32_t back_colour);
    // Font family, size in points, style (unused, 0), text colour and the colour of
    // the text cell (unused: text is drawn transparently, as on the other pages).
    void SetFont(const QString& name, const QString& size, std::int16_t style, const QString& text_colour,
                 const QString& back_colour);
    // Draws a line with the top of its text cell at (left, top). Scale (100) and
    // angle (0) are accepted for the call's shape; pages are always upright at 100%.
    void SetText(std::int16_t left, double top, std::int16_t scale, std::int16_t angle, const QString& line);
    // Writes the picture as a GIF89a file. Raises VbError with a plain reason when
    // the file cannot be written; no partial file is left.
    void SaveAs(const QString& path);
    // Ends the picture.
    void Close();

    // The picture drawn so far (empty before New and after Close).
    PixelView pixels() const;

private:
    PageSurface& picture();

    std::unique_ptr<PageSurface> surface_;
    bool open_ = false;
    bool transparent_ = false;
    std::uint32_t back_colour_ = 0xFFFFFF;
    std::uint32_t trans_colour_ = 0xFFFFFF;
    std::uint32_t text_colour_ = 0;
    QString font_name_;
    double font_points_ = 9;
};

// Encodes pixels as one GIF89a image with a global colour table. Pictures with at
// most 256 colours keep them exactly; others are reduced to a fixed colour cube
// that also holds the transparent colour exactly. With a transparent colour
// (0x00BBGGRR) its entry is marked in a graphics control extension. Returns
// nothing on failure and sets `error`.
std::optional<QByteArray> encode_gif(const PixelView& pixels, std::optional<std::uint32_t> transparent,
                                     QString* error);

}  // namespace pagiro
