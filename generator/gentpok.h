#pragma once
// The page generator: one object per run. rtext drives the whole run: it reads
// the settings once, then wjpg lays the text out, draws every page and has it
// written; chkpath makes sure a folder exists; getfname names a page's file.
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "generator/book_run.h"
#include "generator/host.h"
#include "generator/page_writer.h"
#include "generator/run_failure.h"
#include "generator/settings.h"

namespace pagiro {

// The highest page number a run writes: nine digits, far beyond any novel (ten
// million characters make 125,000 classic pages), yet a bound on a runaway run.
inline constexpr std::int64_t kLastPageNumber = 999'999'999;

class PagePipeline;

// What the start button does: during a run it asks for a stop (false); otherwise
// it starts a run and returns (true) when the run has ended. `started` runs just
// before the run begins.
bool start_or_stop(RunHost& host, const std::function<void()>& started = {});

// Makes one folder level (the parent must exist), or throws RunFailure saying
// why it cannot; true when it made it. chkpath, and a volume folder named outside
// a run.
bool make_folder(const QString& folder);

// The failure for a folder the run opens (the output folder, a volume folder) but
// cannot use: in use by another run, a link, a file in the way.
RunFailure unusable_folder(const QString& folder, const FolderError& e);

class gentpok {
public:
    explicit gentpok(RunHost& host);
    ~gentpok();

    void rtext();
    void wjpg(const RunSettings& settings);
    // The run of typeset pages: laid out, drawn and handed over one page at a time.
    void wtypeset(const RunSettings& settings);
    void chkpath(const QString& cs);

    // The path of page p, which also becomes the page counter. During a run it
    // names by the run's settings and the page's volume folder is made only when
    // the page is written (so a failed run leaves no folder for pages it never
    // wrote); otherwise it names by the host's settings as they are and makes the
    // volume folder at once. Throws RunFailure past kLastPageNumber.
    QString getfname(std::int64_t& p);

private:
    // The run's progress for the current page: the estimate's percentage, the
    // page's name (which pumps once), then the host's display.
    PageFile showstat(const RunSettings& s);
    PageFile page_file(const RunSettings& s, std::int64_t page);
    // The volume folder's name of a page; empty when volumes are off.
    QString volume_name(const RunSettings& s, std::int64_t page) const;
    RunSummary summary(const RunSettings& s) const;
    void finish_run(const RunSettings& s);
    void settle_stale_pages(const RunSettings& s, RunSummary& r);

    // After an error during a run: waits for the pages in flight, sets the page
    // counter to the pages on disk, and throws an earlier page's failure if there
    // was one (the caller rethrows its own otherwise).
    void settle_after_error(PagePipeline& pipeline, const RunSettings& s);
    // Counts the pages ahead, for a footer that shows the total, and finds where
    // the chapters begin, for a contents page; 0 when stopped.
    int count_typeset_pages(const RunSettings& s, std::vector<ChapterPage>* chapters = nullptr);
    // A book run's end: the book finished with its chapters and put in place, or,
    // when the run was stopped, dropped. The files written go to the summary.
    void bind_book(std::optional<BookBinder>& binder, const std::vector<ChapterPage>& chapters, int contents);

    // Opens and locks the run's output folder and clears what an earlier run ended
    // by force left there; every page and volume folder of the run is made in it.
    void hold_output_folder(const QString& folder);
    // Lets the output folder go, so that another run may use it (before a message
    // box that can stay open for a long time).
    void release_folders();

    RunHost& host_;
    const RunSettings* run_ = nullptr;  // the settings of the run under way
    std::shared_ptr<const Folder> output_;  // the run's output folder, locked
    QStringList books_;  // the book files the run wrote
    bool made_output_folder_ = false;  // the run made its folder: no older pages are in it
    // Holds the run's settings for getfname while a run goes.
    struct RunScope {
        RunScope(const RunSettings*& run, const RunSettings& s) : run_(run) { run_ = &s; }
        ~RunScope() { run_ = nullptr; }
        const RunSettings*& run_;
    };
};

}  // namespace pagiro
