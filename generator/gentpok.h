#pragma once
// The page generator: one object per run. rtext drives the whole run: it reads
// the settings once, then wjpg lays the text out, draws every page and has it
// written; chkpath makes sure a folder exists; getfname names a page's file.
#include <QString>
#include <functional>
#include <optional>

#include "generator/host.h"
#include "generator/run_failure.h"
#include "generator/settings.h"

namespace pagiro {

class PagePipeline;

// What the start button does: during a run it asks for a stop (false); otherwise
// it starts a run and returns (true) when the run has ended. `started` runs just
// before the run begins.
bool start_or_stop(RunHost& host, const std::function<void()>& started = {});

// Makes one folder level (the parent must exist), or throws RunFailure saying
// why it cannot; true when it made it. chkpath, and the page writer for a volume
// folder.
bool make_folder(const QString& folder);

class gentpok {
public:
    explicit gentpok(RunHost& host);
    ~gentpok();

    void rtext();
    void wjpg(const RunSettings& settings);
    // The run of typeset pages: laid out, drawn and handed over one page at a time.
    void wtypeset(const RunSettings& settings);
    void chkpath(const QString& cs);

    // The path of page p, whose number is rounded to 16 bits and written back (to
    // p and to the page counter). During a run it names by the run's settings and
    // the page's volume folder is made only when the page is written (so a failed
    // run leaves no folder for pages it never wrote); otherwise it names by the
    // host's settings as they are and makes the volume folder at once.
    QString getfname(double& p);

private:
    // The run's progress for the current page: the estimate's percentage, the
    // page's name (which pumps once), then the host's display.
    QString showstat(const RunSettings& s);
    QString page_path(const RunSettings& s, double page);
    // The volume folder of a page; empty when volumes are off.
    QString volume_folder(const RunSettings& s, double page);
    RunSummary summary(const RunSettings& s) const;

    // After an error during a run: waits for the pages in flight, sets the page
    // counter to the pages on disk, and throws an earlier page's failure if there
    // was one (the caller rethrows its own otherwise).
    void settle_after_error(PagePipeline& pipeline, const RunSettings& s);
    // Counts the pages ahead, for a footer that shows the total; 0 when stopped.
    int count_typeset_pages(const RunSettings& s);

    RunHost& host_;
    const RunSettings* run_ = nullptr;  // the settings of the run under way
    // Holds the run's settings for getfname while a run goes.
    struct RunScope {
        RunScope(const RunSettings*& run, const RunSettings& s) : run_(run) { run_ = &s; }
        ~RunScope() { run_ = nullptr; }
        const RunSettings*& run_;
    };
};

}  // namespace pagiro
