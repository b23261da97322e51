#pragma once
// The side panel to the right of the window's classic area: the settings of
// typeset pages and books, and a live preview of the page as it will be written.
// It is shown and hidden by a narrow button on the classic area's right edge
// (or Ctrl+P); hidden, the window is exactly the classic window. Nothing of it is
// kept between sessions.
#include <QWidget>

#include "generator/typeset_settings.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QToolButton;

namespace pagiro {

class bd;
class Preview;
struct PreviewPage;

class SidePanel : public QWidget {
    Q_OBJECT
public:
    // Sits in `window`, to the right of its classic area.
    explicit SidePanel(bd& window);
    ~SidePanel() override;

    // What a run of the window makes, as the panel says.
    PageOptions page_options() const;
    bool clean_stale_pages() const;

    // Shows or hides the panel; the window grows or shrinks to the right.
    void set_open(bool open);
    bool is_open() const;
    // During a run the panel's settings are locked, as the classic ones are.
    void set_idle(bool idle);
    // The page the preview shows (null while it shows why there is none).
    const QImage& shown_page() const { return shown_; }

    QToolButton* toggle;        // on the classic area's right edge
    // Settings
    QComboBox* layout_mode;     // 经典 / 排版
    QComboBox* device;          // a device's page size, font size and format
    QSpinBox *margin_left, *margin_right, *margin_top, *margin_bottom;  // -1: automatic
    QDoubleSpinBox* line_spacing;
    QDoubleSpinBox* paragraph_spacing;
    QDoubleSpinBox* indent;
    QCheckBox* chapter_pages;
    QComboBox* footer;
    QComboBox* rendering;       // 灰度 / 黑白
    QDoubleSpinBox* ink_weight;
    QLineEdit* book_title;
    QLineEdit* book_author;
    QCheckBox* clean;
    // Preview
    QPushButton* first_page;
    QSpinBox* page_number;
    QPushButton* last_page;
    QComboBox* zoom;            // 适合窗口 / 实际大小
    QScrollArea* view;
    QLabel* picture;            // the page, or why there is none
    QLabel* page_info;
    Preview* preview;

private:
    void build_settings(QWidget* column);
    void build_preview(QWidget* column);
    void watch_window();
    void layout_changed();
    void device_chosen();
    void format_chosen();
    void show_page(const PreviewPage& page);
    void show_picture();
    void enable_typeset_controls();
    void refresh();
    // A setting that changes the page estimate as well as the page.
    void setting_changed();

    bd& window_;
    QImage shown_;
    bool typeset_ = false;
    bool idle_ = true;
};

}  // namespace pagiro
