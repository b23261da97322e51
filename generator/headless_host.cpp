#include "headless_host.h"

#include "generator/gentpok.h"
#include "generator/run_state.h"
#include "generator/summary.h"
#include "platform/clock.h"

namespace pagiro {

HeadlessHost::HeadlessHost() {
    for (Setting s : {Setting::s_text, Setting::c_fjqz, Setting::c_qm, Setting::c_tk, Setting::c_tg, Setting::c_font,
                      Setting::c_fontsize, Setting::c_wzcolor, Setting::c_bjcolor, Setting::c_bjtp, Setting::c_ml,
                      Setting::v_tpks, Setting::zdfj1})
        settings_[s] = default_setting(s);
}

void HeadlessHost::ts() {
    double pictures = pictures_written(text(Setting::c_qm));
    long seconds = elapsed_seconds(mk::starttime, timer_seconds());
    summary_ = summary_lines(pictures, QString::fromStdString(now_text()), seconds);
    show_summary(summary_);
    mk::runflag = 0;
    playandstop(true);
}

void HeadlessHost::run_failed(const QString& chinese, const QString& english) {
    failure_zh_ = chinese;
    failure_ = english;
    show_failure(english);
    mk::runflag = 0;
    playandstop(true);
}

void HeadlessHost::start() {
    start_or_stop(*this, [this] {
        failure_.clear();
        failure_zh_.clear();
        summary_.clear();
    });
}

}  // namespace pagiro
