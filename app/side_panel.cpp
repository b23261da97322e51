#include "app/side_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <climits>

#include "app/bd.h"
#include "app/preview.h"
#include "generator/formats.h"
#include "platform/fonts.h"
#include "render/devices.h"

namespace pagiro {
namespace {

// The classic area is 556 × 397; the panel adds its width to the right.
constexpr int kClassicWidth = 556;
constexpr int kClassicHeight = 397;
constexpr int kPanelWidth = 580;
constexpr int kSettingsWidth = 262;

const QString kToggleTip = QStringLiteral("显示或隐藏侧栏：页面预览和排版设置（Ctrl+P）");


QString tip(QWidget* w, const QString& text) {
    w->setToolTip(text);
    return text;
}

QSpinBox* margin_box(QWidget* parent, const QString& side) {
    auto* box = new QSpinBox(parent);
    // One below the lowest margin: the default, shown as "自动".
    box->setRange(int(kMarginBounds.low) - 1, int(kMarginBounds.high));
    box->setValue(-1);
    box->setSpecialValueText(QStringLiteral("自动"));
    box->setSuffix(QStringLiteral(" 像素"));
    tip(box, QStringLiteral("%1页边距，单位像素。“自动”为页面短边的6%。").arg(side));
    return box;
}

QDoubleSpinBox* number_box(QWidget* parent, SettingBounds bounds, double value, double step, const QString& suffix) {
    auto* box = new QDoubleSpinBox(parent);
    box->setRange(bounds.low, bounds.high);
    box->setDecimals(2);
    box->setSingleStep(step);
    box->setValue(value);
    box->setSuffix(suffix);
    return box;
}

}  // namespace

SidePanel::SidePanel(bd& window) : QWidget(&window), window_(window) {
    setObjectName(QStringLiteral("side_panel"));
    setGeometry(kClassicWidth, 0, kPanelWidth, kClassicHeight);
    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(6, 6, 8, 6);
    columns->setSpacing(8);
    auto* settings = new QWidget(this);
    settings->setFixedWidth(kSettingsWidth);
    auto* pages = new QWidget(this);
    columns->addWidget(settings);
    columns->addWidget(pages, 1);
    build_settings(settings);
    build_preview(pages);
    hide();

    // On the classic area's right edge, in the strip no classic control uses; it
    // takes no focus, so Tab still walks the classic controls only.
    toggle = new QToolButton(&window);
    toggle->setObjectName(QStringLiteral("panel_toggle"));
    toggle->setGeometry(547, 10, 8, 175);
    toggle->setArrowType(Qt::RightArrow);
    toggle->setFocusPolicy(Qt::NoFocus);
    toggle->setAutoRaise(false);
    connect(toggle, &QToolButton::clicked, this, [this] { set_open(!is_open()); });
    auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+P")), &window);
    connect(shortcut, &QShortcut::activated, this, [this] { set_open(!is_open()); });

    // Named as the members are, as the window's own controls are.
    const std::pair<QWidget*, const char*> names[] = {
        {layout_mode, "layout_mode"}, {device, "device"}, {margin_left, "margin_left"},
        {margin_right, "margin_right"}, {margin_top, "margin_top"}, {margin_bottom, "margin_bottom"},
        {line_spacing, "line_spacing"}, {paragraph_spacing, "paragraph_spacing"}, {indent, "indent"},
        {chapter_pages, "chapter_pages"}, {footer, "footer"}, {rendering, "rendering"}, {ink_weight, "ink_weight"},
        {book_title, "book_title"}, {book_author, "book_author"}, {clean, "clean"}, {first_page, "first_page"},
        {page_number, "page_number"}, {last_page, "last_page"}, {zoom, "zoom"}, {view, "view"},
        {picture, "picture"}, {page_info, "page_info"}};
    for (const auto& [widget, name] : names) widget->setObjectName(QLatin1String(name));

    preview = new Preview(window_, *window_.s_text->document(), this);
    connect(preview, &Preview::ready, this, &SidePanel::show_page);
    watch_window();
    enable_typeset_controls();
}

SidePanel::~SidePanel() = default;

void SidePanel::build_settings(QWidget* column) {
    auto* grid = new QGridLayout(column);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(3);
    int row = 0;
    auto label = [&](const QString& text, int r, int c) {
        auto* l = new QLabel(text, column);
        grid->addWidget(l, r, c);
        return l;
    };

    label(QStringLiteral("排版方式:"), row, 0);
    layout_mode = new QComboBox(column);
    layout_mode->addItems({QStringLiteral("经典"), QStringLiteral("排版")});
    tip(layout_mode, QStringLiteral("经典：原来的字格页面，与以前逐字节相同；排版：为今天的屏幕排版，"
                                    "中文断行、两端对齐、抗锯齿"));
    grid->addWidget(layout_mode, row++, 1, 1, 3);

    label(QStringLiteral("设备:"), row, 0);
    device = new QComboBox(column);
    device->addItem(QStringLiteral("（自定）"));
    for (const typeset::DevicePreset& d : typeset::device_presets()) {
        device->addItem(QStringLiteral("%1  %2×%3").arg(QString::fromUtf8(d.name.data(), qsizetype(d.name.size())))
                            .arg(d.width)
                            .arg(d.height));
        device->setItemData(device->count() - 1, QString::fromUtf8(d.description.data(), qsizetype(d.description.size())),
                            Qt::ToolTipRole);
    }
    tip(device, QStringLiteral("选一种阅读设备：填入它的页面宽高、字号和适合的格式，之后仍可修改"));
    grid->addWidget(device, row++, 1, 1, 3);

    // Two margins a row: left and right, then top and bottom.
    auto margins = [&](QSpinBox*& first, const QString& first_side, QSpinBox*& second, const QString& second_side) {
        label(first_side + QStringLiteral("边距:"), row, 0);
        first = margin_box(column, first_side);
        grid->addWidget(first, row, 1);
        label(second_side + QStringLiteral(":"), row, 2);
        second = margin_box(column, second_side);
        grid->addWidget(second, row++, 3);
    };
    margins(margin_left, QStringLiteral("左"), margin_right, QStringLiteral("右"));
    margins(margin_top, QStringLiteral("上"), margin_bottom, QStringLiteral("下"));

    label(QStringLiteral("行距:"), row, 0);
    const TypesetRequest defaults;
    line_spacing = number_box(column, kLineSpacingBounds, defaults.style.line_spacing, 0.1, QStringLiteral(" 倍"));
    tip(line_spacing, QStringLiteral("行与行的距离，是字号的几倍（默认1.5）"));
    grid->addWidget(line_spacing, row, 1);
    label(QStringLiteral("段距:"), row, 2);
    paragraph_spacing =
        number_box(column, kParagraphSpacingBounds, defaults.style.paragraph_spacing, 0.25, QStringLiteral(" 字"));
    tip(paragraph_spacing, QStringLiteral("段落之后多空出的距离，单位为字宽（默认0）"));
    grid->addWidget(paragraph_spacing, row++, 3);

    label(QStringLiteral("首行缩进:"), row, 0);
    indent = number_box(column, kIndentBounds, defaults.style.indent_ems, 0.5, QStringLiteral(" 字"));
    tip(indent, QStringLiteral("以汉字开头的段落首行缩进几个字（默认2）"));
    grid->addWidget(indent, row++, 1);

    chapter_pages = new QCheckBox(QStringLiteral("章节标题另起一页"), column);
    chapter_pages->setChecked(defaults.style.heading_new_page);
    tip(chapter_pages, QStringLiteral("“第…章”等章节标题总是从新的一页开始"));
    grid->addWidget(chapter_pages, row++, 0, 1, 4);

    label(QStringLiteral("页脚:"), row, 0);
    footer = new QComboBox(column);
    footer->addItems({QStringLiteral("无"), QStringLiteral("页码"), QStringLiteral("章节标题")});
    tip(footer, QStringLiteral("页面底边显示的内容：页码和总页数，或本章标题"));
    grid->addWidget(footer, row++, 1, 1, 3);

    label(QStringLiteral("渲染:"), row, 0);
    rendering = new QComboBox(column);
    rendering->addItems({QStringLiteral("灰度"), QStringLiteral("黑白")});
    tip(rendering, QStringLiteral("灰度：平滑的抗锯齿文字；黑白：清晰的1位墨点，适合小屏幕"));
    grid->addWidget(rendering, row, 1);
    label(QStringLiteral("墨色:"), row, 2);
    ink_weight = number_box(column, kInkWeightBounds, defaults.ink_weight, 0.1, QString());
    tip(ink_weight, QStringLiteral("大于1时加粗细笔画，适合墨水屏（默认1）"));
    grid->addWidget(ink_weight, row++, 3);

    label(QStringLiteral("书名:"), row, 0);
    book_title = new QLineEdit(column);
    tip(book_title, QStringLiteral("写进书里的书名，也是书的文件名（格式为 .xtc、.xtch、.cbz 时）"));
    grid->addWidget(book_title, row++, 1, 1, 3);
    label(QStringLiteral("作者:"), row, 0);
    book_author = new QLineEdit(column);
    tip(book_author, QStringLiteral("写进书里的作者（格式为 .xtc、.xtch、.cbz 时）"));
    grid->addWidget(book_author, row++, 1, 1, 3);

    clean = new QCheckBox(QStringLiteral("生成完后删除以前多余的页面"), column);
    tip(clean, QStringLiteral("生成到文本末尾后，删除以前生成的、页码在本次最后一页之后的同名图片"));
    grid->addWidget(clean, row++, 0, 1, 4);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
}

void SidePanel::build_preview(QWidget* column) {
    auto* box = new QVBoxLayout(column);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(3);
    auto* bar = new QHBoxLayout;
    bar->setSpacing(3);
    first_page = new QPushButton(QStringLiteral("首页"), column);
    tip(first_page, QStringLiteral("预览第一页"));
    page_number = new QSpinBox(column);
    page_number->setRange(1, 9999999);
    page_number->setPrefix(QStringLiteral("第 "));
    page_number->setSuffix(QStringLiteral(" 页"));
    page_number->setKeyboardTracking(false);
    tip(page_number, QStringLiteral("预览第几页（从1数起，与文件编号无关）"));
    last_page = new QPushButton(QStringLiteral("末页"), column);
    tip(last_page, QStringLiteral("预览最后一页（要把全文排完，长文本需要一点时间）"));
    zoom = new QComboBox(column);
    zoom->addItems({QStringLiteral("适合窗口"), QStringLiteral("实际大小")});
    tip(zoom, QStringLiteral("缩放到预览框大小，或按实际像素显示"));
    for (QPushButton* b : {first_page, last_page}) b->setFixedWidth(44);
    bar->addWidget(first_page);
    bar->addWidget(page_number, 1);
    bar->addWidget(last_page);
    bar->addWidget(zoom);
    box->addLayout(bar);

    view = new QScrollArea(column);
    view->setAlignment(Qt::AlignCenter);
    view->setBackgroundRole(QPalette::Dark);
    picture = new QLabel(view);
    picture->setAlignment(Qt::AlignCenter);
    picture->setWordWrap(true);
    // Why there is no page is read on the window's own colours, not the dark backdrop.
    picture->setMargin(12);
    QPalette message = picture->palette();
    message.setColor(QPalette::Window, palette().color(QPalette::Window));
    message.setColor(QPalette::WindowText, QColor(192, 0, 0));
    picture->setPalette(message);
    picture->setBackgroundRole(QPalette::Window);
    picture->setForegroundRole(QPalette::WindowText);
    tip(view, QStringLiteral("页面预览：与生成的图片逐像素相同"));
    view->setWidget(picture);
    view->setWidgetResizable(false);
    box->addWidget(view, 1);
    page_info = new QLabel(column);
    tip(page_info, QStringLiteral("预览的是哪一页"));
    box->addWidget(page_info);

    connect(first_page, &QPushButton::clicked, this, [this] {
        page_number->setValue(1);
        preview->show_page(1);
    });
    connect(last_page, &QPushButton::clicked, this, [this] { preview->show_last_page(); });
    connect(page_number, &QSpinBox::valueChanged, this, [this](int n) { preview->show_page(n); });
    connect(zoom, &QComboBox::currentIndexChanged, this, &SidePanel::show_picture);
}

void SidePanel::watch_window() {
    bd& w = window_;
    auto again = [this] { refresh(); };
    connect(w.s_text, &QPlainTextEdit::textChanged, this, again);
    for (QLineEdit* box : {w.c_tk, w.c_tg, w.c_wzcolor, w.c_bjcolor, w.c_bjtp})
        connect(box, &QLineEdit::textChanged, this, again);
    connect(w.c_font, &QComboBox::currentTextChanged, this, again);
    connect(w.c_fontsize, &QComboBox::currentTextChanged, this, again);
    connect(w.qckh, &QCheckBox::toggled, this, again);
    connect(w.v_tpks, &QComboBox::currentIndexChanged, this, &SidePanel::format_chosen);

    connect(layout_mode, &QComboBox::currentIndexChanged, this, &SidePanel::layout_changed);
    connect(device, &QComboBox::currentIndexChanged, this, &SidePanel::device_chosen);
    const auto counted = [this] { setting_changed(); };
    for (QSpinBox* box : {margin_left, margin_right, margin_top, margin_bottom})
        connect(box, &QSpinBox::valueChanged, this, counted);
    for (QDoubleSpinBox* box : {line_spacing, paragraph_spacing, indent})
        connect(box, &QDoubleSpinBox::valueChanged, this, counted);
    connect(ink_weight, &QDoubleSpinBox::valueChanged, this, again);
    connect(chapter_pages, &QCheckBox::toggled, this, again);
    connect(footer, &QComboBox::currentIndexChanged, this, again);
    connect(rendering, &QComboBox::currentIndexChanged, this, again);
}

PageOptions SidePanel::page_options() const {
    PageOptions o;
    o.layout = layout_mode->currentIndex() == 1 ? LayoutMode::typeset : LayoutMode::classic;
    TypesetRequest& r = o.typeset;
    typeset::Style& style = r.style;
    style.margin_left = margin_left->value();
    style.margin_right = margin_right->value();
    style.margin_top = margin_top->value();
    style.margin_bottom = margin_bottom->value();
    style.line_spacing = line_spacing->value();
    style.paragraph_spacing = paragraph_spacing->value();
    style.indent_ems = indent->value();
    style.heading_new_page = chapter_pages->isChecked();
    constexpr typeset::FooterKind kinds[] = {typeset::FooterKind::none, typeset::FooterKind::page_number,
                                             typeset::FooterKind::chapter_title};
    style.footer = kinds[std::max(0, footer->currentIndex())];
    r.mono = rendering->currentIndex() == 1;
    r.ink_weight = ink_weight->value();
    if (device->currentIndex() > 0)
        r.grey_levels = typeset::page_grey_levels(typeset::device_presets()[std::size_t(device->currentIndex() - 1)]);
    o.book.title = book_title->text().trimmed();
    o.book.author = book_author->text().trimmed();
    return o;
}

bool SidePanel::clean_stale_pages() const { return clean->isChecked(); }

bool SidePanel::is_open() const { return !isHidden(); }

void SidePanel::set_open(bool open) {
    setVisible(open);
    toggle->setArrowType(open ? Qt::LeftArrow : Qt::RightArrow);
    window_.setFixedSize(kClassicWidth + (open ? kPanelWidth : 0), kClassicHeight);
    if (open) preview->show_page(preview->page());
}

void SidePanel::set_idle(bool idle) {
    idle_ = idle;
    for (QWidget* w : std::initializer_list<QWidget*>{layout_mode, device, clean}) w->setEnabled(idle);
    enable_typeset_controls();
}

void SidePanel::enable_typeset_controls() {
    typeset_ = layout_mode->currentIndex() == 1;
    // With the panel closed the window looks classic; its button still says what a run makes.
    toggle->setToolTip(typeset_ ? kToggleTip + QStringLiteral("\n现在生成的是排版页面") : kToggleTip);
    for (QWidget* w : std::initializer_list<QWidget*>{margin_left, margin_right, margin_top, margin_bottom,
                                                      line_spacing, paragraph_spacing, indent, chapter_pages, footer,
                                                      rendering, ink_weight})
        w->setEnabled(typeset_ && idle_);
    // A title and an author are written into books only.
    const PageFormat* f = find_format(window_.v_tpks->currentText());
    for (QWidget* w : {book_title, book_author}) w->setEnabled(idle_ && f && f->book != BookKind::none);
}

void SidePanel::refresh() {
    if (is_open()) preview->changed();
}

void SidePanel::setting_changed() {
    // Margins and spacing change how many typeset pages the text makes.
    window_.update_estimate();
    refresh();
}

namespace {

// Sets a box only when it still holds `from`: what the user typed stays.
void replace_default(QLineEdit* box, const QString& from, const QString& to) {
    if (box->text() == from) box->setText(to);
}

}  // namespace

void SidePanel::layout_changed() {
    bd& w = window_;
    const bool typeset = layout_mode->currentIndex() == 1;
    const QString classic_w = default_setting(Setting::c_tk), classic_h = default_setting(Setting::c_tg);
    const QString classic_pt = default_setting(Setting::c_fontsize);
    const QString classic_face = choose_default_font(QFontDatabase::families());
    const QString typeset_face = QString::fromLatin1(typeset::default_family);
    if (typeset) {
        replace_default(w.c_tk, classic_w, QString::number(kTypesetPageWidth));
        replace_default(w.c_tg, classic_h, QString::number(kTypesetPageHeight));
        if (w.c_fontsize->currentText() == classic_pt) w.c_fontsize->setEditText(QString::number(kTypesetPoints));
        if (w.c_font->currentText() == classic_face && w.c_font->findText(typeset_face) >= 0)
            w.c_font->setCurrentIndex(w.c_font->findText(typeset_face));
        if (w.v_tpks->currentText() == default_setting(Setting::v_tpks))
            w.v_tpks->setCurrentIndex(w.v_tpks->findText(QStringLiteral(".png")));
    } else {
        replace_default(w.c_tk, QString::number(kTypesetPageWidth), classic_w);
        replace_default(w.c_tg, QString::number(kTypesetPageHeight), classic_h);
        if (w.c_fontsize->currentText() == QString::number(kTypesetPoints)) w.c_fontsize->setEditText(classic_pt);
        if (w.c_font->currentText() == typeset_face && w.c_font->findText(classic_face) >= 0)
            w.c_font->setCurrentIndex(w.c_font->findText(classic_face));
        // Classic pages cannot be written in a typeset page's format: back to the
        // window's first choice (whose own check falls back to ".jpg").
        if (!classic_format(w.v_tpks->currentText()))
            w.v_tpks->setCurrentIndex(w.v_tpks->findText(default_setting(Setting::v_tpks)));
    }
    w.update_estimate();
    enable_typeset_controls();
    refresh();
}

void SidePanel::format_chosen() {
    // A format only typeset pages are written in makes the pages typeset, and so
    // does a book, as on the command line (set back to 经典, a book holds classic pages).
    const PageFormat* f = find_format(window_.v_tpks->currentText());
    if (layout_mode->currentIndex() == 0 && window_.v_tpks->currentIndex() >= 0 && (!f || f->book != BookKind::none))
        layout_mode->setCurrentIndex(1);
    enable_typeset_controls();
    refresh();
}

void SidePanel::device_chosen() {
    if (device->currentIndex() > 0) {
        const typeset::DevicePreset& d = typeset::device_presets()[std::size_t(device->currentIndex() - 1)];
        bd& w = window_;
        w.c_tk->setText(QString::number(d.width));
        w.c_tg->setText(QString::number(d.height));
        w.c_fontsize->setEditText(QString::number(d.font_size_pt));
        if (const PageFormat* f = device_page_format(d.format, layout_mode->currentIndex() == 1))
            w.v_tpks->setCurrentIndex(w.v_tpks->findText(QString::fromUtf16(f->extension)));
        w.update_estimate();
    }
    refresh();
}

void SidePanel::show_page(const PreviewPage& page) {
    shown_ = page.image;
    picture->setAutoFillBackground(page.image.isNull());
    if (page.image.isNull()) {
        picture->setPixmap(QPixmap());
        picture->setText(page.message);
        page_info->setText(QString());
    } else {
        picture->setText(QString());
        page_info->setText(page.last ? QStringLiteral("第 %1 页（最后一页，共 %1 页）").arg(page.number)
                                     : QStringLiteral("第 %1 页").arg(page.number));
        if (page.number != page_number->value()) {
            const QSignalBlocker quiet(page_number);
            page_number->setValue(page.number);
        }
    }
    show_picture();
}

void SidePanel::show_picture() {
    if (shown_.isNull()) {
        const int width = view->viewport()->width();
        picture->resize(width, picture->heightForWidth(width));
        return;
    }
    QPixmap pm = QPixmap::fromImage(shown_);
    if (zoom->currentIndex() == 0) {
        const QSize room = view->viewport()->size() - QSize(4, 4);
        const QSize fitted = shown_.size().scaled(room, Qt::KeepAspectRatio);
        // Small pages are enlarged pixel for pixel so that they stay sharp.
        pm = pm.scaled(fitted, Qt::KeepAspectRatio,
                       fitted.width() > shown_.width() ? Qt::FastTransformation : Qt::SmoothTransformation);
    }
    picture->setPixmap(pm);
    picture->resize(pm.size());
}

}  // namespace pagiro
