#include "headless_host.h"

#include "generator/gentpok.h"

namespace pagiro {

HeadlessHost::HeadlessHost() {
    for (const SettingDefault& d : kSettingDefaults) settings_[d.setting] = QString::fromUtf16(d.text);
}

void HeadlessHost::show_progress(const RunProgress& progress) {
    set_title(progress.title());
    set_status(progress.status());
}

void HeadlessHost::finished(const RunSummary& summary) {
    summary_ = summary.lines();
    show_summary(summary_);
}

void HeadlessHost::run_failed(const RunFailure& failure) {
    failure_zh_ = failure.chinese;
    failure_ = failure.english;
    show_failure(failure.english);
}

void HeadlessHost::start() {
    start_or_stop(*this, [this] {
        failure_.clear();
        failure_zh_.clear();
        summary_.clear();
    });
}

}  // namespace pagiro
