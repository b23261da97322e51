#pragma once
// The page generator: one object per run. rtext drives the whole run: it reads
// the settings once, then wjpg lays the text out, draws every page and has it
// written; chkpath makes sure a folder exists; getfname names a page's file.
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "generator/host.h"
#include "generator/run_failure.h"
#include "generator/settings.h"

namespace pagiro {

// The highest page number a run writes: nine digits, far beyond any novel (ten
// million characters make 125,000 classic pages), yet a bound on a runaway run.
inline constexpr std::int64_t kLastPageNumber = 999'999'999;

// What the start button does: during a run it asks for a stop (false); otherwise
// it starts a run and returns (true) when the run has ended. `started` runs just
// before the run begins.
bool start_or_stop(RunHost& host, const std::function<void()>& started = {});

class gentpok {
public:
    explicit gentpok(RunHost& host);
    ~gentpok();

    void rtext();
    void wjpg(const RunSettings& settings);
    void chkpath(const QString& cs);

    // The path of page p, which also becomes the page counter; makes the page's
    // volume folder. During a run it names by the run's settings, otherwise by the
    // host's settings as they are. Throws RunFailure past kLastPageNumber.
    QString getfname(std::int64_t& p);

private:
    // The run's progress for the current page: the estimate's percentage, the
    // page's name (which pumps once), then the host's display.
    QString showstat(const RunSettings& s);
    QString page_path(const RunSettings& s, std::int64_t page);
    RunSummary summary(const RunSettings& s) const;
    void settle_stale_pages(const RunSettings& s, RunSummary& r);

    RunHost& host_;
    const RunSettings* run_ = nullptr;  // the settings of the run under way
};

}  // namespace pagiro
