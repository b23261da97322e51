#pragma once
// The page generator: one object per run. rtext drives the whole run; wjpg lays
// the text out, draws every page and has it written; chkpath makes sure a folder
// exists.
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "generator/host.h"
#include "generator/layout.h"

namespace pagiro {

class PageWriter;

// A run that cannot go on, with what to tell the user in the window (Chinese)
// and on the command line (plain English).
struct RunFailure : std::runtime_error {
    RunFailure(const QString& zh, const QString& en) : std::runtime_error(en.toStdString()), chinese(zh), english(en) {}
    QString chinese;
    QString english;
};

// Whether a file-name prefix keeps every page inside the output folder and makes
// names a phone's memory card can hold: no path separator, none of : * ? " < > |
// and no control character.
bool prefix_is_safe(const QString& prefix);

// What the start button does: during a run it asks for a stop (false); otherwise
// it starts a run and returns (true) when the run has ended. `started` runs just
// before the run begins.
bool start_or_stop(RunHost& host, const std::function<void()>& started = {});

class gentpok {
public:
    explicit gentpok(RunHost& host);
    ~gentpok();

    void rtext();
    void wjpg(const QString& x, const QString& y, const QString& c_bc, const QString& c_fc, const QString& c_fc_bc,
              const QString& c_text, const QString& t_font, const QString& t_size);
    void chkpath(const QString& cs);

    // The path of page p (rounded to a 16-bit page number and written back).
    QString getfname(double& p);

private:
    void showstat();
    void check_settings(const QString& x, const QString& y, const QString& c_bc, const QString& c_fc,
                        const QString& t_size);

    std::optional<double> estimate() const;

    RunHost& host_;
    // The settings cannot change while a run is under way (the window disables
    // them), so the estimate is taken once per run, and a page's path and progress
    // texts once per page: showstat runs before every line.
    bool in_run_ = false;
    std::optional<double> run_estimate_;
    double named_page_ = -1;
    QString named_path_;
    double shown_page_ = -1;
};

}  // namespace pagiro
