#include <QFileInfo>

#include "generator/gentpok.h"
#include "generator/page_writer.h"
#include "jpeg/bmptojpg.h"
#include "platform/numbers.h"
#include "platform/surface.h"
#include "platform/vb_error.h"
#include "platform/xygraphics.h"

namespace pagiro {
namespace {

std::u16string_view view(const QString& s) { return {reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size())}; }

RunFailure write_failure(const QString& path, const QString& reason) {
    return RunFailure(QStringLiteral("图片文件无法写入：%1（%2）").arg(path, reason),
                      QStringLiteral("cannot write the page file %1: %2").arg(path, reason));
}

// ".bmp" and ".jpg": pages are drawn on the picture surface.
class SurfaceWriter : public PageWriter {
public:
    SurfaceWriter(bool jpeg, const WriterSettings& s) : jpeg_(jpeg), settings_(s) {
        surface_.set_size(text_to_i32(view(s.x)), text_to_i32(view(s.y)));
        if (!s.background_picture.trimmed().isEmpty()) {
            QString error;
            if (!surface_.set_background_picture(s.background_picture.trimmed(), &error))
                throw RunFailure(QStringLiteral("背景图片无法载入：%1（%2）").arg(s.background_picture.trimmed(), error),
                                 QStringLiteral("cannot load the background picture %1: %2")
                                     .arg(s.background_picture.trimmed(), error));
        }
        surface_.set_font(s.t_font, text_to_double(view(s.t_size)));
        surface_.set_colors(static_cast<std::uint32_t>(text_to_i32(view(s.c_fc))),
                            static_cast<std::uint32_t>(text_to_i32(view(s.c_bc))));
    }

    void begin_page() override { surface_.clear(); }

    void draw_line(double top, const QString& line) override { surface_.print(4, static_cast<int>(top), line); }

    void write_page(const std::function<QString()>& path) override {
        if (jpeg_) {
            PixelView pixels = surface_.view();
            const std::int32_t w = text_to_i32(view(settings_.x));
            const std::int32_t h = text_to_i32(view(settings_.y));
            bmptojpg encoder;
            encoder.SampleHDC(pixels, w, h, 0, 0);
            const QString file = path();
            try {
                encoder.SaveFile(file.toStdString());
            } catch (const VbError& e) {
                throw write_failure(file, QString::fromStdString(e.description()));
            }
        } else {
            const QString file = path();
            QString error;
            if (!surface_.save_bmp(file, &error)) throw write_failure(file, error);
        }
    }

    QString resolved_font() const override { return surface_.resolved_family(); }

private:
    bool jpeg_;
    WriterSettings settings_;
    PageSurface surface_;
};

// Any other format: the GIF component draws and writes each page itself.
class GifWriter : public PageWriter {
public:
    explicit GifWriter(const WriterSettings& s) : settings_(s) {}

    void begin_page() override {
        gif_.New(settings_.x, settings_.y, settings_.c_bc);
        gif_.IsTrans(true);
        gif_.TransColor(settings_.c_bc);
    }

    void draw_line(double top, const QString& line) override {
        gif_.SetFont(settings_.t_font, settings_.t_size, 0, settings_.c_fc, settings_.c_fc_bc);
        gif_.SetText(4, top, 100, 0, line);
    }

    void write_page(const std::function<QString()>& path) override {
        const QString file = path();
        try {
            gif_.SaveAs(file);
        } catch (const VbError& e) {
            throw write_failure(file, QString::fromStdString(e.description()));
        }
        gif_.Close();
    }

private:
    WriterSettings settings_;
    XYGraphics gif_;
};

}  // namespace

std::unique_ptr<PageWriter> make_page_writer(const QString& format, const WriterSettings& settings) {
    if (format == u".bmp" || format == u".jpg") return std::make_unique<SurfaceWriter>(format == u".jpg", settings);
    return std::make_unique<GifWriter>(settings);
}

}  // namespace pagiro
