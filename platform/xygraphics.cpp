#include "xygraphics.h"

#include <gif_lib.h>

#include <QGuiApplication>
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "colour.h"
#include "file_names.h"
#include "numbers.h"
#include "page_file.h"
#include "surface.h"
#include "vb_error.h"

namespace pagiro {
namespace {

constexpr std::uint32_t kRgbMask = 0xFFFFFF;

// Pixels as 0xRRGGBB, whatever the layout of the view.
std::uint32_t pixel_at(const PixelView& v, const std::uint8_t* row, int x) {
    if (v.format == PixelFormat::Bgrx32) {
        const std::uint8_t* p = row + 4 * x;
        return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
    }
    const std::uint8_t* p = row + 3 * x;
    return std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
}

int distance2(std::uint32_t a, std::uint32_t b) {
    const int dr = int(a >> 16 & 0xFF) - int(b >> 16 & 0xFF);
    const int dg = int(a >> 8 & 0xFF) - int(b >> 8 & 0xFF);
    const int db = int(a & 0xFF) - int(b & 0xFF);
    return dr * dr + dg * dg + db * db;
}

struct Palette {
    std::vector<std::uint32_t> colours;                 // 0xRRGGBB, at most 256
    std::unordered_map<std::uint32_t, int> index;       // every colour of the picture → entry

    int add(std::uint32_t c) {
        auto [it, fresh] = index.emplace(c, int(colours.size()));
        if (fresh) colours.push_back(c);
        return it->second;
    }
};

// Exact when the picture (plus the transparent colour) has at most 256 colours.
bool exact_palette(const PixelView& v, std::optional<std::uint32_t> trans, Palette& pal) {
    if (trans) pal.add(*trans);
    std::uint32_t last = ~0u;
    for (int y = 0; y < v.height; ++y) {
        const std::uint8_t* row = v.data + y * v.stride;
        for (int x = 0; x < v.width; ++x) {
            const std::uint32_t c = pixel_at(v, row, x);
            if (c == last) continue;
            last = c;
            pal.add(c);
            if (pal.colours.size() > 256) return false;
        }
    }
    return true;
}

// The transparent colour and the most frequent colours exactly, a 6×6×6 cube for
// the rest; every other colour goes to its nearest entry.
void reduced_palette(const PixelView& v, std::optional<std::uint32_t> trans, Palette& pal) {
    std::unordered_map<std::uint32_t, std::uint32_t> counts;
    for (int y = 0; y < v.height; ++y) {
        const std::uint8_t* row = v.data + y * v.stride;
        for (int x = 0; x < v.width; ++x) ++counts[pixel_at(v, row, x)];
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> by_count(counts.begin(), counts.end());
    std::sort(by_count.begin(), by_count.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });

    std::vector<std::uint32_t> chosen;
    auto take = [&](std::uint32_t c) {
        if (std::find(chosen.begin(), chosen.end(), c) == chosen.end()) chosen.push_back(c);
    };
    if (trans) take(*trans);
    std::size_t next = 0;
    while (chosen.size() < 40 && next < by_count.size()) take(by_count[next++].first);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) take(std::uint32_t(r * 51) << 16 | std::uint32_t(g * 51) << 8 | std::uint32_t(b * 51));
    while (chosen.size() < 256 && next < by_count.size()) take(by_count[next++].first);
    chosen.resize(std::min<std::size_t>(chosen.size(), 256));

    for (std::uint32_t c : chosen) pal.add(c);
    // Only the transparent colour itself may become transparent.
    const int skip = trans ? 0 : -1;
    for (const auto& [c, n] : by_count) {
        if (pal.index.count(c)) continue;
        int best = -1, best_d = 0;
        for (int i = 0; i < int(pal.colours.size()); ++i) {
            if (i == skip) continue;
            const int d = distance2(c, pal.colours[i]);
            if (best < 0 || d < best_d) best = i, best_d = d;
        }
        pal.index.emplace(c, best);
    }
}

int write_to_buffer(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}

QString gif_error(int code) {
    const char* text = GifErrorString(code);
    return text ? QString::fromLatin1(text) : QStringLiteral("GIF encoding failed (%1)").arg(code);
}

std::uint32_t colour_value(const QString& text) {
    return std::uint32_t(to_i32(text_to_double(text.toStdU16String()))) & kRgbMask;
}

}  // namespace

std::optional<QByteArray> encode_gif(const PixelView& pixels, std::optional<std::uint32_t> transparent,
                                     QString* error) {
    if (pixels.empty() || pixels.width > 0xFFFF || pixels.height > 0xFFFF) {
        if (error) *error = QStringLiteral("a GIF picture must be 1 to 65535 pixels each way");
        return std::nullopt;
    }
    std::optional<std::uint32_t> trans;
    if (transparent) trans = swap_red_blue(*transparent);

    Palette pal;
    if (!exact_palette(pixels, trans, pal)) {
        pal = Palette{};
        reduced_palette(pixels, trans, pal);
    }
    int bits = 1;
    while ((1u << bits) < pal.colours.size()) ++bits;
    std::vector<GifColorType> table(std::size_t(1) << bits, GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < pal.colours.size(); ++i) {
        const std::uint32_t c = pal.colours[i];
        table[i] = GifColorType{GifByteType(c >> 16), GifByteType(c >> 8), GifByteType(c)};
    }
    const int trans_index = trans ? pal.index.at(*trans) : NO_TRANSPARENT_COLOR;

    QByteArray bytes;
    int code = 0;
    GifFileType* gif = EGifOpen(&bytes, write_to_buffer, &code);
    if (!gif) {
        if (error) *error = gif_error(code);
        return std::nullopt;
    }
    EGifSetGifVersion(gif, true);
    auto fail = [&]() -> std::optional<QByteArray> {
        if (error) *error = gif_error(gif->Error);
        EGifCloseFile(gif, nullptr);
        return std::nullopt;
    };

    ColorMapObject* map = GifMakeMapObject(int(table.size()), table.data());
    if (!map) return fail();
    const int screen = EGifPutScreenDesc(gif, pixels.width, pixels.height, bits, trans ? trans_index : 0, map);
    GifFreeMapObject(map);
    if (screen != GIF_OK) return fail();

    if (trans) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        gcb.UserInputFlag = false;
        gcb.DelayTime = 0;
        gcb.TransparentColor = trans_index;
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) != GIF_OK) return fail();
    }
    if (EGifPutImageDesc(gif, 0, 0, pixels.width, pixels.height, false, nullptr) != GIF_OK) return fail();

    std::vector<GifPixelType> line(std::size_t(pixels.width));
    for (int y = 0; y < pixels.height; ++y) {
        const std::uint8_t* row = pixels.data + y * pixels.stride;
        std::uint32_t last = ~0u;
        int last_index = 0;
        for (int x = 0; x < pixels.width; ++x) {
            const std::uint32_t c = pixel_at(pixels, row, x);
            if (c != last) last = c, last_index = pal.index.at(c);
            line[std::size_t(x)] = GifPixelType(last_index);
        }
        if (EGifPutLine(gif, line.data(), pixels.width) != GIF_OK) return fail();
    }
    if (EGifCloseFile(gif, &code) != GIF_OK) {
        if (error) *error = gif_error(code);
        return std::nullopt;
    }
    return bytes;
}

XYGraphics::XYGraphics() = default;
XYGraphics::~XYGraphics() = default;

bool XYGraphics::available() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    const std::uint8_t pixel[4] = {255, 255, 255, 0};
    PixelView one{pixel, 1, 1, 4, PixelFormat::Bgrx32};
    const auto bytes = encode_gif(one, 0xFFFFFFu, nullptr);
    return bytes && bytes->startsWith("GIF89a");
}

PageSurface& XYGraphics::picture() {
    if (!open_) throw VbError(5, "No picture has been started");
    return *surface_;
}

void XYGraphics::New(const QString& width, const QString& height, const QString& back_colour) {
    const double w = to_i32(text_to_double(width.toStdU16String()));
    const double h = to_i32(text_to_double(height.toStdU16String()));
    New(w, h, colour_value(back_colour));
}

void XYGraphics::New(double width, double height, std::uint32_t back_colour) {
    const std::int32_t w = to_i32(width);
    const std::int32_t h = to_i32(height);
    const std::uint32_t back = back_colour & kRgbMask;
    if (w < 1 || h < 1 || w > 0xFFFF || h > 0xFFFF) throw VbError(5, "Invalid picture size");
    if (!surface_) {
        surface_ = std::make_unique<PageSurface>();
        surface_->set_font(font_name_, font_points_);
    }
    back_colour_ = back;
    trans_colour_ = back;
    transparent_ = false;
    surface_->set_size(w, h);
    surface_->set_colors(text_colour_, back_colour_);
    surface_->clear();
    open_ = true;
}

void XYGraphics::IsTrans(bool transparent) { transparent_ = transparent; }

void XYGraphics::TransColor(const QString& colour) { TransColor(colour_value(colour)); }

void XYGraphics::TransColor(std::uint32_t colour) { trans_colour_ = colour & kRgbMask; }

void XYGraphics::SetFont(const QString& name, const QString& size, std::int16_t style, const QString& text_colour,
                         const QString& back_colour) {
    const double points = text_to_double(size.toStdU16String());
    const std::uint32_t text = colour_value(text_colour);
    // Checked like the others, though text is drawn transparently.
    SetFont(name, points, style, text, colour_value(back_colour));
}

void XYGraphics::SetFont(const QString& name, double points, std::int16_t /*style*/, std::uint32_t text_colour,
                         std::uint32_t /*back_colour*/) {
    const std::uint32_t text = text_colour & kRgbMask;
    if (surface_ && (name != font_name_ || points != font_points_)) surface_->set_font(name, points);
    font_name_ = name;
    font_points_ = points;
    text_colour_ = text;
    if (surface_) surface_->set_colors(text_colour_, back_colour_);
}

void XYGraphics::SetText(std::int16_t left, double top, std::int16_t /*scale*/, std::int16_t /*angle*/,
                         const QString& line) {
    PageSurface& surface = picture();
    surface.print(left, to_i32(top), line);
}

void XYGraphics::SaveAs(const QString& path) {
    PageSurface& surface = picture();
    QString reason;
    const auto bytes =
        encode_gif(surface.view(), transparent_ ? std::optional<std::uint32_t>(trans_colour_) : std::nullopt, &reason);
    std::string error;
    if (bytes && !write_page_file(bytes_of_name(path), bytes->constData(),
                                  std::size_t(bytes->size()), error))
        reason = QString::fromLocal8Bit(error.c_str());
    if (!bytes || !reason.isEmpty())
        throw VbError(75, QStringLiteral("Cannot write %1: %2").arg(path, reason).toStdString());
}

void XYGraphics::Close() { open_ = false; }

PixelView XYGraphics::pixels() const { return open_ ? surface_->view() : PixelView{}; }

}  // namespace pagiro
