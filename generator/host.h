#pragma once
// The seam between the page generator and whatever holds the settings: the
// window, or a headless host for the command line and the tests. The generator
// reads every setting through it at each use, as the controls' texts, and writes
// its progress texts back through it.
#include <QString>

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

// The text each setting starts with, except the output folder, whose default
// depends on where the program lives.
QString default_setting(Setting s);

class RunHost {
public:
    virtual ~RunHost() = default;

    virtual QString text(Setting s) const = 0;
    virtual bool checked(Check c) const = 0;
    // Length of the source text in UTF-16 units, without copying it.
    virtual qsizetype source_length() const { return text(Setting::s_text).size(); }

    virtual void set_title(const QString& title) = 0;       // the window title
    virtual void set_status(const QString& status) = 0;     // the status line v_2
    virtual void set_page_text(const QString& text) = 0;    // the page-text box outcjg
    // Progress in structured form, for hosts that draw their own display.
    virtual void progress(double /*pageno*/, const QString& /*percent*/, const QString& /*file*/) {}

    virtual void playandstop(bool cs) = 0;  // true: idle, false: running
    virtual void ts() = 0;                  // the end-of-run summary; returns the host to idle
    // A run that failed: show why (Chinese for the window, plain English for the
    // command line), then return to idle.
    virtual void run_failed(const QString& chinese, const QString& english) = 0;
    // True once the window has been closed during a run: the run stops where it
    // is, writes nothing more and shows no summary.
    virtual bool abandoned() const { return false; }
};

}  // namespace pagiro
