#pragma once
// A host without a window: the settings are plain values with the window's
// defaults, and what a run shows is kept (and, for the command line, printed).
#include <QHash>
#include <QStringList>

#include "generator/host.h"

namespace pagiro {

class HeadlessHost : public RunHost {
public:
    HeadlessHost();

    void set(Setting s, const QString& value) { settings_[s] = value; }
    void set(Check c, bool value) { checks_[c] = value; }
    void set(const PageOptions& options) { options_ = options; }

    QString text(Setting s) const override { return settings_.value(s); }
    bool checked(Check c) const override { return checks_.value(c, false); }
    PageOptions page_options() const override { return options_; }

    void playandstop(bool cs) override { running_ = !cs; }
    void show_progress(const RunProgress& progress) override;
    void set_page_text(const QString& text) override { page_text_ = text; }
    void finished(const RunSummary& summary) override;
    void run_failed(const RunFailure& failure) override;

    // The texts a window would show during a run.
    virtual void set_title(const QString& title) { title_ = title; }
    virtual void set_status(const QString& status) { status_ = status; }

    // Starts a run as the start button does, and returns when it has ended.
    void start();

    const QString& title() const { return title_; }
    const QString& status() const { return status_; }
    const QString& page_text() const { return page_text_; }
    bool running() const { return running_; }
    const QStringList& summary() const { return summary_; }
    const QString& failure() const { return failure_; }  // English; empty when the run succeeded
    const QString& failure_chinese() const { return failure_zh_; }

protected:
    virtual void show_summary(const QStringList& /*lines*/) {}
    virtual void show_failure(const QString& /*english*/) {}

private:
    QHash<Setting, QString> settings_;
    QHash<Check, bool> checks_;
    PageOptions options_;
    QString title_, status_, page_text_, failure_, failure_zh_;
    QStringList summary_;
    bool running_ = false;
};

}  // namespace pagiro
