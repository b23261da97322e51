#include "generator/page_writer.h"

#include "generator/book_run.h"
#include "generator/gentpok.h"
#include "generator/page_limits.h"
#include "generator/page_pipeline.h"
#include "generator/settings.h"
#include "platform/file_names.h"
#include "platform/numbers.h"
#include "platform/page_file.h"
#include "platform/staged_file.h"
#include "platform/surface.h"
#include "platform/xygraphics.h"

namespace pagiro {
namespace {

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

// Loads the background picture onto a surface; throws RunFailure when it cannot be read.
void load_background(PageSurface& surface, const QString& picture) {
    if (picture.isEmpty()) return;
    QString error;
    if (!surface.set_background_picture(picture, &error))
        throw RunFailure(QStringLiteral("背景图片无法载入：%1（%2）").arg(picture, error),
                         QStringLiteral("cannot load the background picture %1: %2").arg(picture, error));
}

// The picture surface, made once per run and cleared for every page.
class SurfaceCanvas : public PageCanvas {
public:
    explicit SurfaceCanvas(const RunSettings& s) {
        surface_.set_size(to_i32(s.width), to_i32(s.height));
        surface_.set_font(s.font, s.font_size);
        surface_.set_colors(s.text_colour, s.background_colour);
        // Last: a picture read ahead may still be on its way, and the rest of the
        // start overlaps with it.
        surface_.prepare();
        load_background(surface_, s.background_picture);
    }

    void begin_page() override { surface_.clear(); }
    void draw_line(double left, double top, const QString& line) override {
        surface_.print(static_cast<int>(left), static_cast<int>(top), line);
    }
    // The page's pixels are shared, not copied: the next clear() gives the surface
    // pixels of its own and leaves these to the page.
    QImage copy() const override { return surface_.image(); }
    QString resolved_font() const override { return surface_.resolved_family(); }

private:
    PageSurface surface_;
};

// The GIF page component: a new picture for every page, its background colour
// marked transparent.
class GifCanvas : public PageCanvas {
public:
    explicit GifCanvas(const RunSettings& s) : settings_(s) {
        // GIF pages never show the background picture, but one that cannot be read
        // is a mistake in the settings all the same, whatever the format.
        PageSurface probe;
        load_background(probe, s.background_picture);
    }

    void begin_page() override {
        gif_.New(settings_.width, settings_.height, settings_.background_colour);
        gif_.IsTrans(settings_.gif_transparent);
        gif_.TransColor(settings_.background_colour);
    }
    void draw_line(double left, double top, const QString& line) override {
        gif_.SetFont(settings_.font, settings_.font_size, 0, settings_.text_colour, settings_.background_colour);
        gif_.SetText(static_cast<std::int16_t>(left), top, 100, 0, line);
    }
    QImage copy() const override { return copy_of(gif_.pixels()); }
    void end_page() override { gif_.Close(); }

private:
    const RunSettings& settings_;
    XYGraphics gif_;
};

}  // namespace

std::unique_ptr<PageCanvas> make_canvas(const RunSettings& settings) {
    switch (settings.format->canvas) {
    case Canvas::surface: return std::make_unique<SurfaceCanvas>(settings);
    case Canvas::gif_component: return std::make_unique<GifCanvas>(settings);
    case Canvas::typeset: break;  // drawn by the page renderer, not line by line
    }
    return nullptr;
}

QImage draw_page(const RunSettings& settings, const std::vector<std::u16string>& lines) {
    std::unique_ptr<PageCanvas> canvas = make_canvas(settings);
    canvas->begin_page();
    for (std::size_t n = 0; n < lines.size(); ++n)
        canvas->draw_line(settings.style.left, settings.style.line_top(static_cast<int>(n)),
                          QString::fromStdU16String(lines[n]));
    QImage page = canvas->copy();
    canvas->end_page();
    return page;
}

PageWriter::PageWriter(const RunSettings& settings, PagePipeline& pipeline, BookBinder* book)
    : settings_(settings),
      pipeline_(pipeline),
      book_(book),
      canvas_(make_canvas(settings)),
      page_bytes_(page_memory(*settings.format, std::uint64_t(to_i32(settings.width)),
                              std::uint64_t(to_i32(settings.height)), pipeline.workers())
                      .per_page) {}

void PageWriter::write_page(const std::function<PageFile()>& file) {
    // The page's copy is made only once the pipeline has room for it.
    pipeline_.wait_for_room(std::size_t(page_bytes_));
    QImage page = canvas_->copy();
    if (page.isNull()) throw std::bad_alloc();
    PageFile target = file();
    canvas_->end_page();
    if (book_)
        book_->hand_over(pipeline_, std::move(page), std::size_t(page_bytes_));
    else
        hand_over(pipeline_, settings_, std::move(page), std::move(target), std::size_t(page_bytes_));
}

void hand_over(PagePipeline& pipeline, const RunSettings& run_settings, QImage page, PageFile file,
               std::size_t bytes) {
    const RunSettings* settings = &run_settings;
    pipeline.submit([page = std::move(page), target = std::move(file), settings]() -> PagePipeline::Write {
        QString reason;
        std::optional<QByteArray> bytes = settings->format->encode(page, *settings, &reason);
        if (!bytes) throw write_failure(target.path, reason);
        return [target, bytes = std::move(*bytes)] {
            const Folder* where = target.folder.get();
            Folder volume;
            bool made = false;
            if (!target.volume.empty()) {
                try {
                    volume = target.folder->subfolder(target.volume, &made);
                } catch (const FolderError& e) {
                    throw unusable_folder(target.volume_path, e);
                }
                // What a run ended by force left in a volume folder goes before its first page.
                if (!made && target.first_in_volume) StagedFile::remove_leftovers(volume);
                where = &volume;
            }
            std::string error;
            bool removed = false;
            if (!write_page_file(*where, target.name, bytes.constData(), std::size_t(bytes.size()), error,
                                 &removed)) {
                // A volume folder made for this page alone goes with it.
                if (made) {
                    volume = Folder();
                    target.folder->remove_subfolder(target.volume);
                }
                throw write_failure(target.path, QString::fromLocal8Bit(error.c_str()), removed);
            }
        };
    }, bytes);
}

}  // namespace pagiro
