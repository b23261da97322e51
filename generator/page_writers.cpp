#include <QBuffer>
#include <QImage>

#include "generator/gentpok.h"
#include "generator/page_pipeline.h"
#include "generator/page_writer.h"
#include "jpeg/bmptojpg.h"
#include "platform/numbers.h"
#include "platform/page_file.h"
#include "platform/surface.h"
#include "platform/vb_error.h"
#include "platform/xygraphics.h"

namespace pagiro {
namespace {

std::u16string_view view(const QString& s) { return {reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size())}; }

RunFailure write_failure(const QString& path, const QString& reason, bool removed = false) {
    if (removed)
        return RunFailure(QStringLiteral("图片文件无法写入：%1（%2）。没写完的文件已删除，之前的图片都完好。").arg(path, reason),
                          QStringLiteral("cannot write the page file %1: %2; the unfinished file was removed, the "
                                         "pages before it are complete")
                              .arg(path, reason));
    return RunFailure(QStringLiteral("图片文件无法写入：%1（%2）").arg(path, reason),
                      QStringLiteral("cannot write the page file %1: %2").arg(path, reason));
}

// The page's own copy of the pixels, for a worker to encode while the next page is drawn.
QImage copy_of(const PixelView& v) {
    return QImage(v.data, v.width, v.height, v.stride, QImage::Format_RGB32).copy();
}

PagePipeline::Write write_bytes(QString path, QByteArray bytes) {
    return [path = std::move(path), bytes = std::move(bytes)] {
        std::string error;
        bool removed = false;
        if (!write_page_file(path.toStdString(), bytes.constData(), std::size_t(bytes.size()), error, &removed))
            throw write_failure(path, QString::fromLocal8Bit(error.c_str()), removed);
    };
}

// ".bmp" and ".jpg": pages are drawn on the picture surface.
class SurfaceWriter : public PageWriter {
public:
    SurfaceWriter(bool jpeg, const WriterSettings& s, PagePipeline& pipeline)
        : jpeg_(jpeg), settings_(s), pipeline_(pipeline) {
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
        QImage page = copy_of(surface_.view());
        if (jpeg_) {
            const std::int32_t w = text_to_i32(view(settings_.x));
            const std::int32_t h = text_to_i32(view(settings_.y));
            QString file = path();
            pipeline_.submit([page = std::move(page), w, h, file = std::move(file)]() -> PagePipeline::Write {
                bmptojpg encoder;
                encoder.SampleHDC(view_of(page), w, h, 0, 0);
                const std::vector<std::uint8_t> bytes = encoder.SaveBytes();
                return write_bytes(file, QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
            });
        } else {
            QString file = path();
            pipeline_.submit([page = std::move(page), file = std::move(file)]() -> PagePipeline::Write {
                QByteArray bytes;
                QBuffer buffer(&bytes);
                buffer.open(QIODevice::WriteOnly);
                if (!page.save(&buffer, "BMP")) throw write_failure(file, QStringLiteral("cannot encode the page"));
                buffer.close();
                return write_bytes(file, std::move(bytes));
            });
        }
    }

    QString resolved_font() const override { return surface_.resolved_family(); }

private:
    bool jpeg_;
    WriterSettings settings_;
    PagePipeline& pipeline_;
    PageSurface surface_;
};

// Any other format: the GIF component draws each page; the page's pixels are then
// encoded and written like the other formats.
class GifWriter : public PageWriter {
public:
    GifWriter(const WriterSettings& s, PagePipeline& pipeline) : settings_(s), pipeline_(pipeline) {}

    void begin_page() override {
        gif_.New(settings_.x, settings_.y, settings_.c_bc);
        gif_.IsTrans(true);
        gif_.TransColor(settings_.c_bc);
        transparent_ = static_cast<std::uint32_t>(text_to_i32(view(settings_.c_bc)));
    }

    void draw_line(double top, const QString& line) override {
        gif_.SetFont(settings_.t_font, settings_.t_size, 0, settings_.c_fc, settings_.c_fc_bc);
        gif_.SetText(4, top, 100, 0, line);
    }

    void write_page(const std::function<QString()>& path) override {
        QImage page = copy_of(gif_.pixels());
        QString file = path();
        gif_.Close();
        const std::uint32_t transparent = transparent_;
        pipeline_.submit([page = std::move(page), file = std::move(file), transparent]() -> PagePipeline::Write {
            QString reason;
            auto bytes = encode_gif(view_of(page), transparent, &reason);
            if (!bytes) throw write_failure(file, reason);
            return write_bytes(file, std::move(*bytes));
        });
    }

private:
    WriterSettings settings_;
    PagePipeline& pipeline_;
    XYGraphics gif_;
    std::uint32_t transparent_ = 0;
};

}  // namespace

std::unique_ptr<PageWriter> make_page_writer(const QString& format, const WriterSettings& settings,
                                             PagePipeline& pipeline) {
    if (format == u".bmp" || format == u".jpg")
        return std::make_unique<SurfaceWriter>(format == u".jpg", settings, pipeline);
    return std::make_unique<GifWriter>(settings, pipeline);
}

}  // namespace pagiro
