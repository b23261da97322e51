#pragma once
// The seam between a run and whatever holds the settings: the window, or a
// headless host for the command line and the tests. A run reads the host's
// control texts once, at its start; afterwards it only reports to it: progress,
// then either the summary or the failure.
#include <QString>
#include <QStringList>
#include <cstdint>

#include "generator/page_names.h"
#include "generator/run_failure.h"
#include "generator/typeset_settings.h"

namespace pagiro {

// The settings, each named by the control that holds it.
enum class Setting {
    s_text,     // source text
    c_fjqz,     // file-name prefix
    c_qm,       // first page number
    c_tk,       // page width, pixels
    c_tg,       // page height, pixels
    c_font,     // font name
    c_fontsize, // font size, points
    c_wzcolor,  // text colour, decimal 0x00BBGGRR
    c_bjcolor,  // background colour, decimal 0x00BBGGRR
    c_bjtp,     // background picture path; blank means none
    c_ml,       // output folder
    v_tpks,     // picture format, also the file extension: ".gif", ".jpg" or ".bmp"
    zdfj1,      // pages per volume
};

enum class Check {
    qckh,  // drop empty lines
    zdfj,  // split into volume folders
};

// The text each setting starts with in the window, the headless host and the
// command line. The output folder has none here: it depends on where the
// program runs.
struct SettingDefault {
    Setting setting;
    const char16_t* text;
};
inline constexpr SettingDefault kSettingDefaults[] = {
    {Setting::s_text, u"请输入要转换成电子书的文本\r\n"},
    {Setting::c_fjqz, u"kbwm"},
    {Setting::c_qm, u"1"},
    {Setting::c_tk, u"128"},
    {Setting::c_tg, u"110"},
    {Setting::c_font, u"宋体"},
    {Setting::c_fontsize, u"9"},
    {Setting::c_wzcolor, u"0"},
    {Setting::c_bjcolor, u"16777215"},
    {Setting::c_bjtp, u""},
    {Setting::c_ml, u""},
    {Setting::v_tpks, u".gif"},
    {Setting::zdfj1, u"1"},
};
QString default_setting(Setting s);

// Where a run is: the page being made, how far through the estimate (percent,
// in its shortest form) and the page's file relative to the output folder.
struct RunProgress {
    std::int64_t page = 0;
    QString percent;
    QString file;

    QString title() const;   // the window title during a run
    QString status() const;  // the status line during a run
};

// What a finished run made.
struct RunSummary {
    std::int64_t pictures = 0;  // pages written
    QString finished_at;   // the date and time it ended
    long seconds = 0;      // how long it took
    // Page files of an earlier run numbered past this run's last page: those still
    // there, and those removed on the host's request.
    StalePages stale;
    StalePages removed;
    // A run into a book file: the files written (none when it was stopped).
    bool book = false;
    QStringList books;

    // The four lines of the end-of-run message, and one more when stale pages remain;
    // for a book, the last line names its file instead of telling where to copy pages.
    QStringList lines() const;
};

class RunHost {
public:
    virtual ~RunHost() = default;

    // Read at the start of a run only.
    virtual QString text(Setting s) const = 0;
    virtual bool checked(Check c) const = 0;
    // The layout and the settings that go with it; classic unless the host says otherwise.
    virtual PageOptions page_options() const { return {}; }

    virtual void playandstop(bool cs) = 0;  // true: idle, false: running
    // Once for each page, when it is first named; then the text of the page being
    // drawn, after every line.
    virtual void show_progress(const RunProgress& progress) = 0;
    virtual void set_page_text(const QString& text) = 0;
    // The end of a run: exactly one of the two; the run then returns the host to
    // idle with playandstop(true).
    virtual void finished(const RunSummary& summary) = 0;
    virtual void run_failed(const RunFailure& failure) = 0;
    // True once the window has been closed during a run: the run stops where it
    // is, writes nothing more and shows no summary.
    virtual bool abandoned() const { return false; }
    // Whether a run that reaches the end of its text removes the page files an
    // earlier run left past its last page; otherwise the summary only says so.
    virtual bool clean_stale_pages() const { return false; }
    // Whether the output folder is already held for this run by its caller (a batch
    // writing several book files side by side into it): the run then neither takes
    // the folder's lock nor clears unfinished files from it, since those may be the
    // other books' files being written.
    virtual bool output_folder_held() const { return false; }
};

}  // namespace pagiro
