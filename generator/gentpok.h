#pragma once
// The page generator: one object per run. rtext drives the whole run: it reads
// the settings once, then wjpg lays the text out, draws every page and has it
// written; chkpath makes sure a folder exists; getfname names a page's file.
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "generator/host.h"
#include "generator/page_writer.h"
#include "generator/run_failure.h"
#include "generator/settings.h"

namespace pagiro {

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

    // The path of page p, whose number is rounded to 16 bits and written back (to
    // p and to the page counter); makes the page's volume folder. During a run it
    // names by the run's settings, otherwise by the host's settings as they are.
    QString getfname(double& p);

private:
    // The run's progress for the current page: the estimate's percentage, the
    // page's name (which pumps once), then the host's display.
    PageFile showstat(const RunSettings& s);
    PageFile page_file(const RunSettings& s, double page);
    RunSummary summary(const RunSettings& s) const;

    // Opens and locks the run's output folder and clears what an earlier run ended
    // by force left there; every page and volume folder of the run is made in it.
    void hold_output_folder(const QString& folder);
    // The open volume folder `name` (number v), made when it is missing.
    std::shared_ptr<const Folder> volume_folder(double v, const QString& name, const QString& shown);
    // Lets the folders go, so that another run may use them (before a message box
    // that can stay open for a long time).
    void release_folders();

    RunHost& host_;
    const RunSettings* run_ = nullptr;  // the settings of the run under way
    std::shared_ptr<const Folder> output_;  // the run's output folder, locked
    struct Volume {
        double number = 0;
        std::shared_ptr<const Folder> folder;
    } volume_;  // the volume folder of the latest page
};

}  // namespace pagiro
