#pragma once
// How a drawn page becomes a file, per format. One writer lives for one run.
#include <QString>
#include <functional>
#include <memory>

#include "generator/host.h"

namespace pagiro {

class PageWriter {
public:
    virtual ~PageWriter() = default;
    // Start a page: the surface cleared, or the GIF component's new picture.
    virtual void begin_page() = 0;
    // Draw one kept line at left 4 and the given top, in pixels.
    virtual void draw_line(double top, const QString& line) = 0;
    // Hand the finished page over to be written; `path` builds its file name at the
    // point the format's writer asks for it.
    virtual void write_page(const std::function<QString()>& path) = 0;
    // The font actually used, so a missing font can be reported.
    virtual QString resolved_font() const { return {}; }
};

// Arguments as the run hands them over: the control texts.
struct WriterSettings {
    QString x, y, c_bc, c_fc, c_fc_bc, t_font, t_size;
    QString background_picture;  // c_bjtp; blank for none
};

class PagePipeline;

// ".bmp" and ".jpg" draw on the picture surface; any other format text takes the
// GIF path. Finished pages are encoded and written through the pipeline.
std::unique_ptr<PageWriter> make_page_writer(const QString& format, const WriterSettings& settings,
                                             PagePipeline& pipeline);

}  // namespace pagiro
