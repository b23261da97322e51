#pragma once
// The main window `bd`: every setting lives in one of its controls, and the
// start button runs the generator inside its click handler. It is the run's host:
// the generator reads the controls and writes its progress through RunHost.
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

#include "generator/host.h"
#include "platform/dialogs.h"
#include "platform/fonts.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace pagiro {

class SidePanel;

class bd : public QWidget, public RunHost {
    Q_OBJECT
public:
    // `dialogs` answers every modal dialog; tests hand in their own.
    explicit bd(DialogProvider* dialogs = nullptr, QWidget* parent = nullptr);
    ~bd() override;

    // RunHost
    QString text(Setting s) const override;
    bool checked(Check c) const override;
    void show_progress(const RunProgress& progress) override;
    void set_page_text(const QString& text) override;
    void playandstop(bool cs) override;
    void finished(const RunSummary& summary) override;
    void run_failed(const RunFailure& failure) override;
    bool abandoned() const override { return closing_; }
    // The side panel's settings.
    PageOptions page_options() const override;
    bool clean_stale_pages() const override;

    // Length of the source text in UTF-16 units, line breaks as CR LF, without
    // building the text.
    qsizetype source_length() const;

    // The source text as the user sees it, line breaks as CR LF.
    void set_source_text(const QString& text);
    // Recomputes the page estimate in v_1, for the layout the side panel says.
    void update_estimate();
    // Shows the latest progress texts of a run. A run reports them before every
    // line, far more often than anyone can read them, so they are kept and shown
    // only when the window is about to process its events.
    void flush_display();

    // The controls, named as everywhere else in the product.
    QPlainTextEdit* outcjg;   // text of the page being drawn, shown during a run
    QLineEdit* zdfj1;         // pages per volume
    QCheckBox* zdfj;          // split into volumes
    QComboBox* v_tpks;        // picture format
    QLabel* gentp;            // the hidden picture box (pages are drawn off-screen)
    QPushButton* c_mlr;       // choose output folder
    QLineEdit* c_ml;          // output folder
    QFrame* Frame1;           // holds the start button
    QPushButton* startok;     // start / stop
    QPushButton* c_bjtpr;     // choose background picture
    QLineEdit* c_bjtp;        // background picture path
    QLineEdit* c_bjcolor;     // background colour, decimal 0x00BBGGRR
    QLineEdit* c_wzcolor;     // text colour, decimal 0x00BBGGRR
    QComboBox* c_fontsize;    // font size in points
    QComboBox* c_font;        // font name
    QLineEdit* c_tg;          // page height in pixels
    QLineEdit* c_tk;          // page width in pixels
    QLineEdit* c_qm;          // first page number
    QLineEdit* c_fjqz;        // file-name prefix
    QCheckBox* qckh;          // drop empty lines
    QPushButton* sf_read;     // choose and read a source file
    QLineEdit* sf_file;       // source file path
    QPlainTextEdit* s_text;   // the source text
    QLabel* Label10;          // notice
    QLabel* v_2;              // status line
    QLabel* v_1;              // page estimate
    QLabel *Label9, *Label8, *Label7, *Label4, *Label5, *Label3, *Label2, *Label1, *Label6;

    // The side panel with the preview and the settings beyond the classic ones;
    // hidden until its button on the right edge opens it.
    SidePanel* panel = nullptr;

    static const QString idle_title;

    // Event handlers, public so tests can drive them as the events would.
    void startok_click();
    void v_2_dblclick();
    void zdfj_click();
    void v_tpks_click();
    void sf_read_click();
    // Reads a source file into s_text as the loader does; false (and a message)
    // when it cannot be read, with nothing changed.
    bool load_source_file(const QString& path);
    // Files dropped on the window: the first is read as the loader does.
    void files_dropped(const QStringList& files);
    void c_fontsize_click();
    void c_bjcolor_dblclick();
    void c_wzcolor_dblclick();
    void c_bjtpr_click();
    void c_mlr_click();

    // Run when the focus leaves the box (not when the window loses it): each one
    // corrects the text in place and never refuses the focus change.
    void c_tg_validate();
    void c_tk_validate();
    void c_fontsize_validate();
    void c_qm_validate();
    void zdfj1_validate();
    void c_bjcolor_validate();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void create_controls();
    void load();
    void paint_colour_box(QLineEdit* box, std::uint32_t colour);
    // Paints a colour box and the matching colour of the s_text preview.
    void show_background_colour(std::uint32_t colour);
    void show_text_colour(std::uint32_t colour);
    // Asks for a colour and writes its value into the box; nothing when cancelled.
    std::optional<std::uint32_t> choose_colour_into(QLineEdit* box);
    void open_output_folder(const QString& folder);

    std::unique_ptr<DialogProvider> own_dialogs_;
    DialogProvider* dialogs_;
    mutable QString source_cache_;
    mutable bool source_dirty_ = true;
    bool centred_ = false;
    bool in_run_ = false;
    bool closing_ = false;
    QString pending_title_, pending_status_, pending_page_text_;
    bool title_pending_ = false, status_pending_ = false, page_text_pending_ = false;
};

// The output folder the window starts with: the program's folder when it can be
// written to (a build or a portable copy), else the home folder; then "电子书".
QString default_output_folder(const QString& program_folder, const QString& home_folder);

// Whether GIF pages can be made; the window asks before accepting ".gif".
using GifCheck = bool (*)();
GifCheck set_gif_check(GifCheck check);

// Shows a folder in the desktop's file manager; false when that failed. Tests put
// their own in its place.
using FolderOpener = bool (*)(const QString& folder);
FolderOpener set_folder_opener(FolderOpener opener);

}  // namespace pagiro
