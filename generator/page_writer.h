#pragma once
// How a page is drawn and handed over to become a file. A canvas draws the lines
// of one page at a time (the picture surface or the GIF page component, as the
// format's row says); the page writer gives each finished page to the pipeline,
// which encodes it with the format's encoder and writes it in page order.
#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/folders.h"

namespace pagiro {

struct RunSettings;
class PagePipeline;

// Where a page goes: the path the user is shown, the run's output folder (held open
// for the run, and shared with the pages still in flight), the volume folder in it
// (empty when volumes are off) and the name the page is written as. The volume
// folder is made just before the page's file is written, in page order, so that no
// folder is made for a page that is never written.
struct PageFile {
    QString path;
    std::shared_ptr<const Folder> folder;
    std::string volume;
    QString volume_path;  // the volume folder as the user is shown it
    bool first_in_volume = false;
    std::string name;
};

class PageCanvas {
public:
    virtual ~PageCanvas() = default;
    // Start a page: the background colour and picture, nothing else.
    virtual void begin_page() = 0;
    // Draw one line with the top-left of its text cell at (left, top), in pixels.
    virtual void draw_line(double left, double top, const QString& line) = 0;
    // The page's pixels (Format_RGB32), safe to hand to another thread: the canvas
    // never writes into pixels it has handed out (a shared copy is not copied).
    virtual QImage copy() const = 0;
    // The page is done with.
    virtual void end_page() {}
    // The font actually used, so a missing font can be reported.
    virtual QString resolved_font() const { return {}; }
};

// The canvas of the settings' format. Throws RunFailure when the background
// picture cannot be loaded.
std::unique_ptr<PageCanvas> make_canvas(const RunSettings& settings);

// One page drawn exactly as a run draws it, without a run: for a preview. `lines`
// are the page's kept lines (LaidOutPage::lines), slot 0 first.
QImage draw_page(const RunSettings& settings, const std::vector<std::u16string>& lines);

// Hands a finished page over to the pipeline: its worker encodes it with the
// settings' format and writes it as `file` in page order, making its volume folder
// (when it has one) just before. The page holds `bytes` of memory until it is written.
void hand_over(PagePipeline& pipeline, const RunSettings& settings, QImage page, PageFile file,
               std::size_t bytes = 0);

class BookBinder;

class PageWriter {
public:
    // `settings`, `pipeline` and `book` outlive the writer. With a book, pages go into
    // it instead of page files.
    PageWriter(const RunSettings& settings, PagePipeline& pipeline, BookBinder* book = nullptr);

    PageCanvas& canvas() { return *canvas_; }
    // Hands the finished page over to be written; `file` names it at the point the
    // run has always named it, after the page is drawn.
    void write_page(const std::function<PageFile()>& file);

private:
    const RunSettings& settings_;
    PagePipeline& pipeline_;
    BookBinder* book_;
    std::unique_ptr<PageCanvas> canvas_;
    std::uint64_t page_bytes_;  // what a page holds in memory until it is written
};

}  // namespace pagiro
