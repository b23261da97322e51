#include "bd.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryFile>
#include <QTextBlock>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <new>
#include <optional>

#include "generator/estimate.h"
#include "generator/formats.h"
#include "generator/gentpok.h"
#include "generator/run_state.h"
#include "generator/summary.h"
#include "app/combo_popup.h"
#include "app/file_drop.h"
#include "app/side_panel.h"
#include "app/source_text.h"
#include "app/tooltips.h"
#include "app/window_pump.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/numbers.h"
#include "platform/surface.h"
#include "platform/text_view.h"
#include "platform/textfile.h"
#include "platform/xygraphics.h"

namespace pagiro {
namespace {

constexpr int kTwipsPerPixel = 15;

QRect twips(int left, int top, int width, int height) {
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel);
}

const QString kErrorTitle = QStringLiteral("电子书系统错误提示");

QString megabytes(std::uint64_t bytes) { return QString::number((bytes + (1 << 20) - 1) >> 20) + QStringLiteral(" MB"); }

// Why a source file could not be read, for the loader's message box.
QString read_failure_text(const ReadFailure& f) {
    switch (f.kind) {
    case ReadFailure::Missing: return QStringLiteral("文件不存在。");
    case ReadFailure::Folder: return QStringLiteral("这是一个文件夹,不是文件。");
    case ReadFailure::NotAFile: return QStringLiteral("这不是普通文件(设备、管道或系统文件),不能读取。");
    case ReadFailure::TooLarge:
        return QStringLiteral("文件太大(%1),本程序最多只能读取%2。").arg(megabytes(f.size), megabytes(kMaxTextBytes));
    case ReadFailure::OutOfMemory: return QStringLiteral("内存不足,无法读取这个%1的文件。").arg(megabytes(f.size));
    case ReadFailure::ReadError: break;
    }
    return QStringLiteral("读取出错:%1").arg(QString::fromStdString(f.system));
}

// A whole number as the boxes show it: no decimals, and no endless digits either.
QString whole_text(double v) {
    if (std::fabs(v) < 1e15) return QString::number(v, 'f', 0);
    return QString::number(v, 'g', 15);
}

// The corrected text of a numeric box: the reset value when the text is not a
// number or lies outside the bounds, else the whole part of the (absolute) value.
QString validated(const QString& text, const QString& reset, std::optional<double> lower, bool absolute,
                  std::optional<double> upper = std::nullopt) {
    if (!is_numeric(view(text))) return reset;
    double v = text_to_double(view(text));
    if (lower && v < *lower) return reset;
    v = vb_int(absolute ? std::fabs(v) : v);
    if (upper && v > *upper) return reset;
    return whole_text(v);
}

void set_if_changed(QLineEdit* box, const QString& text) {
    if (box->text() != text) box->setText(text);
}

// A colour box holds a decimal colour value 0x00BBGGRR: digits only, at most 16777215.
std::optional<std::uint32_t> colour_value(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 9) return std::nullopt;
    for (QChar c : t)
        if (c < u'0' || c > u'9') return std::nullopt;
    std::uint32_t v = t.toUInt();
    if (v > 0xFFFFFF) return std::nullopt;
    return v;
}


bool default_gif_check() { return XYGraphics::available(); }
GifCheck g_gif_check = default_gif_check;

bool default_folder_opener(const QString& folder) { return QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); }
FolderOpener g_folder_opener = default_folder_opener;

// Our own 48 × 48 icon: a page with lines of text and a "P".
QIcon make_icon() {
    QPixmap pm(48, 48);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(30, 90, 170));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(4, 2, 40, 44, 5, 5);
    p.setBrush(Qt::white);
    p.drawRect(10, 8, 28, 32);
    p.setPen(QPen(QColor(30, 90, 170), 2));
    for (int y = 14; y <= 34; y += 5) p.drawLine(14, y, 34, y);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(22);
    p.setFont(f);
    p.setPen(QColor(200, 60, 0));
    p.drawText(QRect(20, 20, 24, 24), Qt::AlignCenter, QStringLiteral("P"));
    return QIcon(pm);
}

}  // namespace

const QString bd::idle_title = QStringLiteral("Pagiro电子书制作工具 Beta 2.0");

GifCheck set_gif_check(GifCheck check) {
    GifCheck old = g_gif_check;
    g_gif_check = check ? check : default_gif_check;
    return old;
}

FolderOpener set_folder_opener(FolderOpener opener) {
    FolderOpener old = g_folder_opener;
    g_folder_opener = opener ? opener : default_folder_opener;
    return old;
}

QString default_output_folder(const QString& program_folder, const QString& home_folder) {
    const QString sep = QString(QChar(path_separator));
    QFileInfo info(program_folder);
    QString base = (info.isDir() && info.isWritable()) ? program_folder : home_folder;
    if (base.endsWith(sep)) base.chop(1);
    return base + sep + QStringLiteral("电子书");
}

bd::bd(DialogProvider* dialogs, QWidget* parent) : QWidget(parent) {
    if (!dialogs) {
        own_dialogs_ = std::make_unique<QtDialogs>();
        dialogs = own_dialogs_.get();
    }
    dialogs_ = dialogs;
    create_controls();
    load();
    // Before the drop watcher, which watches the controls there are: a file
    // dropped on the panel is read too.
    panel = new SidePanel(*this);
    set_control_tooltips(this);
    fit_popup_to_items(c_font);
    new FileDrop(
        this, [this] { return in_run_ || mk::runflag != 0; }, [this](const QStringList& files) { files_dropped(files); });
    set_display_flush([](void* window) { static_cast<bd*>(window)->flush_display(); }, this);
}

bd::~bd() {
    if (display_flush_context() == this) set_display_flush(nullptr, nullptr);
}

void bd::create_controls() {
    setObjectName(QStringLiteral("bd"));
    setWindowTitle(idle_title);
    setWindowIcon(make_icon());
    setFixedSize(8340 / kTwipsPerPixel, 5955 / kTwipsPerPixel);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    struct Placed {
        QWidget* widget;
        const char* name;
        QRect rect;
        int tab;
    };
    std::vector<Placed> placed;
    auto place = [&](auto* w, const char* name, QRect r, int tab) {
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(r);
        placed.push_back({w, name, r, tab});
        return w;
    };

    outcjg = place(new QPlainTextEdit(this), "outcjg", twips(690, 390, 6735, 1965), 34);
    outcjg->setReadOnly(true);
    outcjg->hide();
    zdfj1 = place(new QLineEdit(default_setting(Setting::zdfj1), this), "zdfj1", twips(6810, 3060, 645, 285), 33);
    zdfj1->setEnabled(false);
    zdfj = place(new QCheckBox(QStringLiteral("自动        页分卷"), this), "zdfj", twips(6150, 3030, 1965, 345), 32);
    v_tpks = place(new QComboBox(this), "v_tpks", twips(4830, 4920, 765, 300), 30);
    // The classic formats keep their places; those of typeset pages follow.
    for (const PageFormat* f : listed_formats()) v_tpks->addItem(QString::fromUtf16(f->extension));
    v_tpks->setCurrentIndex(-1);
    gentp = place(new QLabel(this), "gentp", twips(150, 150, 1725, 1845), 29);
    gentp->hide();
    c_mlr = place(new QPushButton(QStringLiteral("选取生成目录"), this), "c_mlr", twips(3270, 4890, 1455, 375), 26);
    c_ml = place(new QLineEdit(this), "c_ml", twips(210, 4920, 2985, 315), 25);
    Frame1 = place(new QFrame(this), "Frame1", twips(60, 4620, 8145, 825), 27);
    Frame1->setFrameShape(QFrame::StyledPanel);
    Frame1->setFrameShadow(QFrame::Sunken);
    startok = new QPushButton(QStringLiteral("生成Pagiro电子书"), Frame1);
    startok->setObjectName(QStringLiteral("startok"));
    startok->setGeometry(twips(5730, 210, 2265, 525));
    placed.push_back({startok, "startok", startok->geometry(), 28});
    c_bjtpr = place(new QPushButton(QStringLiteral("选择背景图片"), this), "c_bjtpr", twips(3960, 4230, 1455, 375), 23);
    c_bjtp = place(new QLineEdit(this), "c_bjtp", twips(180, 4260, 3675, 315), 22);
    c_bjtp->setReadOnly(true);
    c_bjcolor = place(new QLineEdit(default_setting(Setting::c_bjcolor), this), "c_bjcolor", twips(5520, 3870, 705, 315), 20);
    c_wzcolor = place(new QLineEdit(default_setting(Setting::c_wzcolor), this), "c_wzcolor", twips(3870, 3870, 705, 315), 18);
    c_wzcolor->setReadOnly(true);
    for (QLineEdit* box : {c_bjcolor, c_wzcolor}) {
        box->setCursor(Qt::ArrowCursor);
        box->setFocusPolicy(Qt::ClickFocus);  // skipped by the Tab key
        box->installEventFilter(this);
    }
    paint_colour_box(c_bjcolor, c_bjcolor->text().toUInt());
    paint_colour_box(c_wzcolor, c_wzcolor->text().toUInt());
    c_fontsize = place(new QComboBox(this), "c_fontsize", twips(2220, 3870, 705, 300), 15);
    c_fontsize->setEditable(true);
    c_fontsize->addItems({QStringLiteral("9"), QStringLiteral("10"), QStringLiteral("11"), QStringLiteral("12"),
                          QStringLiteral("13"), QStringLiteral("14"), QStringLiteral("15")});
    c_fontsize->setEditText(default_setting(Setting::c_fontsize));
    // A plain box with a list: typing "1" must stay "1", and Enter adds no entries.
    c_fontsize->setCompleter(nullptr);
    c_fontsize->setInsertPolicy(QComboBox::NoInsert);
    c_font = place(new QComboBox(this), "c_font", twips(660, 3870, 1515, 300), 14);
    c_tg = place(new QLineEdit(default_setting(Setting::c_tg), this), "c_tg", twips(6300, 3480, 585, 315), 12);
    c_tk = place(new QLineEdit(default_setting(Setting::c_tk), this), "c_tk", twips(5370, 3480, 585, 315), 10);
    c_qm = place(new QLineEdit(default_setting(Setting::c_qm), this), "c_qm", twips(3360, 3450, 735, 315), 7);
    c_fjqz = place(new QLineEdit(default_setting(Setting::c_fjqz), this), "c_fjqz", twips(1170, 3450, 1035, 315), 5);
    qckh = place(new QCheckBox(QStringLiteral("去掉多余的空行"), this), "qckh", twips(4590, 3030, 1575, 345), 3);
    sf_read = place(new QPushButton(QStringLiteral("选择并读取文件"), this), "sf_read", twips(3030, 3000, 1455, 375), 2);
    sf_file = place(new QLineEdit(this), "sf_file", twips(180, 3030, 2775, 315), 1);
    sf_file->setReadOnly(true);
    s_text = place(new QPlainTextEdit(this), "s_text", twips(150, 150, 8025, 2625), 0);
    s_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    s_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    s_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    s_text->setTabChangesFocus(true);  // Tab moves on to the next control, as in every other box
    auto label = [&](const QString& caption, const char* name, QRect r, int tab) {
        return place(new QLabel(caption, this), name, r, tab);
    };
    Label10 = label(QStringLiteral("Pagiro：把文本做成图片电子书，在只能看图片的手机和播放器上阅读。"), "Label10",
                    twips(90, 5580, 8145, 315), 31);
    v_2 = label(QStringLiteral("系统等待执行命令中......"), "v_2", twips(5490, 4320, 2775, 255), 24);
    v_2->installEventFilter(this);
    v_1 = label(QStringLiteral("预计1页"), "v_1", twips(6330, 3960, 1965, 255), 21);
    Label9 = label(QStringLiteral("背景颜色:"), "Label9", twips(4680, 3930, 885, 255), 19);
    Label8 = label(QStringLiteral("文字颜色:"), "Label8", twips(3060, 3930, 885, 255), 17);
    Label7 = label(QStringLiteral("字体:"), "Label7", twips(180, 3930, 495, 255), 16);
    Label4 = label(QStringLiteral("高"), "Label4", twips(6030, 3540, 255, 255), 11);
    Label5 = label(QStringLiteral("宽"), "Label5", twips(5160, 3540, 255, 255), 9);
    Label3 = label(QStringLiteral("图片分辨率:"), "Label3", twips(4170, 3540, 1065, 255), 8);
    Label2 = label(QStringLiteral("页码初始值:"), "Label2", twips(2310, 3510, 1065, 255), 6);
    Label1 = label(QStringLiteral("文件名前缀:"), "Label1", twips(150, 3510, 1065, 255), 4);
    Label6 = label(QStringLiteral("默认:128*110"), "Label6", twips(6960, 3540, 1275, 255), 13);

    auto colour_label = [](QLabel* l, QColor c) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, c);
        l->setPalette(p);
    };
    colour_label(Label10, QColor(192, 64, 0));
    colour_label(v_2, QColor(255, 0, 0));
    colour_label(v_1, QColor(0, 0, 128));

    // A control created earlier lies above one created later.
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) it->widget->raise();

    // Only controls that Tab can reach take part: a label or frame in the chain
    // breaks Qt's ordering.
    std::vector<Placed> by_tab;
    std::copy_if(placed.begin(), placed.end(), std::back_inserter(by_tab),
                 [](const Placed& p) { return (p.widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus; });
    std::sort(by_tab.begin(), by_tab.end(), [](const Placed& a, const Placed& b) { return a.tab < b.tab; });
    for (std::size_t k = 1; k < by_tab.size(); ++k) QWidget::setTabOrder(by_tab[k - 1].widget, by_tab[k].widget);

    set_source_text(default_setting(Setting::s_text));
    v_1->setText(QStringLiteral("预计1页"));
    s_text->setFocus();

    connect(s_text, &QPlainTextEdit::textChanged, this, [this] {
        source_dirty_ = true;
        update_estimate();
    });
    connect(startok, &QPushButton::clicked, this, &bd::startok_click);
    connect(zdfj, &QCheckBox::clicked, this, &bd::zdfj_click);
    connect(v_tpks, &QComboBox::currentIndexChanged, this, &bd::v_tpks_click);
    connect(c_fontsize, &QComboBox::activated, this, &bd::c_fontsize_click);
    connect(sf_read, &QPushButton::clicked, this, &bd::sf_read_click);
    connect(c_bjtpr, &QPushButton::clicked, this, &bd::c_bjtpr_click);
    connect(c_mlr, &QPushButton::clicked, this, &bd::c_mlr_click);
    // Typing into the background colour box: the display follows once it holds a colour.
    connect(c_bjcolor, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (auto c = colour_value(t)) show_background_colour(*c);
    });
    for (QWidget* w : std::initializer_list<QWidget*>{c_tg, c_tk, c_fontsize, c_qm, zdfj1})
        w->installEventFilter(this);
}

void bd::load() {
    const QStringList families = QFontDatabase::families();
    c_font->addItems(families);
    const QString chosen = choose_default_font(families);
    c_font->setCurrentIndex(c_font->findText(chosen));
    QFont f = font();
    if (!chosen.isEmpty()) f.setFamily(chosen);
    f.setPixelSize(12);
    setFont(f);

    v_tpks->setCurrentIndex(v_tpks->findText(default_setting(Setting::v_tpks)));

    c_ml->setText(default_output_folder(QCoreApplication::applicationDirPath(), QDir::homePath()));
}

void bd::paint_colour_box(QLineEdit* box, std::uint32_t colour) {
    const QColor c = colour_from_win(colour);
    QPalette p = box->palette();
    for (auto role : {QPalette::Base, QPalette::Text, QPalette::Window, QPalette::WindowText}) {
        p.setColor(QPalette::Active, role, c);
        p.setColor(QPalette::Inactive, role, c);
        p.setColor(QPalette::Disabled, role, c);
    }
    box->setPalette(p);
}

void bd::show_background_colour(std::uint32_t colour) {
    paint_colour_box(c_bjcolor, colour);
    QPalette p = s_text->palette();
    p.setColor(QPalette::Base, colour_from_win(colour));
    s_text->setPalette(p);
}

void bd::show_text_colour(std::uint32_t colour) {
    paint_colour_box(c_wzcolor, colour);
    QPalette p = s_text->palette();
    p.setColor(QPalette::Text, colour_from_win(colour));
    s_text->setPalette(p);
}

QString bd::text(Setting s) const {
    switch (s) {
    case Setting::s_text:
        if (source_dirty_) {
            source_cache_ = crlf_lines(s_text->toPlainText());
            source_dirty_ = false;
        }
        return source_cache_;
    case Setting::c_fjqz: return c_fjqz->text();
    case Setting::c_qm: return c_qm->text();
    case Setting::c_tk: return c_tk->text();
    case Setting::c_tg: return c_tg->text();
    case Setting::c_font: return c_font->currentText();
    case Setting::c_fontsize: return c_fontsize->currentText();
    case Setting::c_wzcolor: return c_wzcolor->text();
    case Setting::c_bjcolor: return c_bjcolor->text();
    case Setting::c_bjtp: return c_bjtp->text();
    case Setting::c_ml: return c_ml->text();
    case Setting::v_tpks: return v_tpks->currentText();
    case Setting::zdfj1: return zdfj1->text();
    }
    return QString();
}

PageOptions bd::page_options() const { return panel->page_options(); }

bool bd::clean_stale_pages() const { return panel->clean_stale_pages(); }

bool bd::checked(Check c) const {
    return c == Check::qckh ? qckh->isChecked() : zdfj->isChecked();
}

qsizetype bd::source_length() const {
    // Every line break counts twice (CR LF), without building the text.
    const QTextDocument* doc = s_text->document();
    return doc->characterCount() - 1 + (doc->blockCount() - 1);
}

void bd::set_source_text(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s_text->setPlainText(shown);
    source_dirty_ = true;
}

void bd::update_estimate() {
    const PageOptions options = panel ? panel->page_options() : PageOptions{};
    auto pages = options.layout == LayoutMode::typeset
                     ? typeset_estpages(c_tg->text(), c_fontsize->currentText(), c_tk->text(), c_font->currentText(),
                                        options.typeset, source_length())
                     : estpages(c_tg->text(), c_fontsize->currentText(), c_tk->text(), source_length());
    if (!pages) {
        v_1->setText(QStringLiteral("页面放不下文字"));
        return;
    }
    double n = *pages == 0 ? 1 : *pages;
    v_1->setText(QStringLiteral("预计") + QString::number(n, 'f', 0) + QStringLiteral("页"));
}

void bd::show_progress(const RunProgress& progress) {
    pending_title_ = progress.title();
    pending_status_ = progress.status();
    title_pending_ = status_pending_ = true;
}

void bd::set_page_text(const QString& text) {
    pending_page_text_ = text;
    page_text_pending_ = true;
}

void bd::flush_display() {
    if (title_pending_ && windowTitle() != pending_title_) setWindowTitle(pending_title_);
    if (status_pending_ && v_2->text() != pending_status_) v_2->setText(pending_status_);
    if (page_text_pending_) outcjg->setPlainText(pending_page_text_);
    title_pending_ = status_pending_ = page_text_pending_ = false;
}

void bd::playandstop(bool cs) {
    title_pending_ = status_pending_ = page_text_pending_ = false;
    for (QWidget* w : std::initializer_list<QWidget*>{s_text, sf_read, qckh, c_fjqz, c_qm, c_tk, c_tg, c_font,
                                                      c_fontsize, c_wzcolor, c_bjcolor, c_bjtpr, v_tpks, c_ml, c_mlr,
                                                      zdfj, zdfj1})
        w->setEnabled(cs);
    outcjg->setVisible(!cs);
    zdfj_click();
    panel->set_idle(cs);
    if (cs) {
        setWindowTitle(idle_title);
        v_2->setText(QStringLiteral("系统等待执行命令中......"));
        startok->setText(QStringLiteral("生成Pagiro电子书"));
    } else {
        startok->setText(QStringLiteral("正在生成,按我停止"));
    }
}

void bd::finished(const RunSummary& summary) {
    flush_display();
    const QString folder = c_ml->text();
    if (dialogs_->message_with_button(this, summary.lines().join(u'\r'), QString(), DialogProvider::Icon::None,
                                      QStringLiteral("打开文件夹")))
        open_output_folder(folder);
}

void bd::open_output_folder(const QString& folder) {
    const QFileInfo info(folder);
    if (info.isDir() && g_folder_opener(info.absoluteFilePath())) return;
    dialogs_->message(this, QStringLiteral("无法打开文件夹：\n%1").arg(QDir::toNativeSeparators(folder)), kErrorTitle,
                      DialogProvider::Icon::Exclamation);
}

void bd::run_failed(const RunFailure& failure) {
    flush_display();
    dialogs_->message(this, failure.chinese, kErrorTitle, DialogProvider::Icon::Critical);
}

void bd::startok_click() {
    if (!start_or_stop(*this, [this] { in_run_ = true; })) return;
    in_run_ = false;
    if (closing_) QCoreApplication::quit();
}

void bd::v_2_dblclick() {
    if (mk::hasrun == 0) return;
    const QString first = c_qm->text();
    const std::int64_t count = mk::pageno - (is_numeric(view(first)) ? std::llround(text_to_double(view(first))) : 0);
    dialogs_->message(this, last_run_text(count), QStringLiteral("系统提示"), DialogProvider::Icon::None);
}

void bd::zdfj_click() {
    zdfj1->setEnabled(zdfj->isChecked());
    if (mk::runflag != 0) zdfj1->setEnabled(false);
}

void bd::v_tpks_click() {
    if (v_tpks->currentText() != u".gif") return;
    bool usable = false;
    try {
        usable = g_gif_check();
    } catch (...) {
        usable = false;
    }
    if (!usable) {
        dialogs_->message(this, QStringLiteral("GIF生成组件尚未安装,不能使用gif格式!"),
                          QStringLiteral("电子书系统错误提示"), DialogProvider::Icon::None);
        v_tpks->setCurrentIndex(v_tpks->findText(QStringLiteral(".jpg")));
    }
}

void bd::sf_read_click() {
    auto chosen = dialogs_->open_file(this, QStringLiteral("请选择要转换的电子书源文件(txt文件)"),
                                      QStringLiteral("文本文件(*.txt)"), QCoreApplication::applicationDirPath());
    if (chosen) load_source_file(*chosen);
}

bool bd::load_source_file(const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    // Never create the file, and change nothing when it cannot be read.
    if (!QFileInfo::exists(path)) {
        dialogs_->message(this, QStringLiteral("找不到文件：\n%1").arg(shown), kErrorTitle,
                          DialogProvider::Icon::Exclamation);
        return false;
    }
    bool loaded = false;
    ReadFailure failure;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    {
        auto source = read_source_text(std::filesystem::path(QFile::encodeName(path).toStdString()),
                                       TextEncoding::Auto, LineBreaks::Auto, failure);
        if (source) {
            try {
                set_source_text(QString::fromStdU16String(source->text));
                sf_file->setText(shown);
                sf_file->setToolTip(QStringLiteral("文本编码：%1(自动识别)").arg(QLatin1String(encoding_name(source->encoding))));
                loaded = true;
            } catch (const std::bad_alloc&) {
                failure = ReadFailure{ReadFailure::OutOfMemory, source->text.size() * 2, {}};
            }
        }
    }
    QGuiApplication::restoreOverrideCursor();
    if (!loaded) {
        dialogs_->message(this, QStringLiteral("文件无法读取：\n%1\n%2").arg(shown, read_failure_text(failure)),
                          kErrorTitle, DialogProvider::Icon::Exclamation);
        return false;
    }
    s_text->setFocus();
    return true;
}

void bd::files_dropped(const QStringList& files) {
    if (files.isEmpty() || !load_source_file(files.first()) || files.size() == 1) return;
    dialogs_->message(this,
                      QStringLiteral("一次只能读取一个文件，已读取：\n%1\n其余%2个文件没有读取。")
                          .arg(QDir::toNativeSeparators(files.first()))
                          .arg(files.size() - 1),
                      QString(), DialogProvider::Icon::Information);
}

void bd::c_fontsize_click() { update_estimate(); }

std::optional<std::uint32_t> bd::choose_colour_into(QLineEdit* box) {
    auto c = dialogs_->choose_color(this);
    if (!c) return std::nullopt;
    const std::uint32_t v = win_from_colour(*c);
    box->setText(QString::number(v));
    return v;
}

void bd::c_bjcolor_dblclick() {
    if (auto v = choose_colour_into(c_bjcolor)) show_background_colour(*v);
}

void bd::c_wzcolor_dblclick() {
    if (auto v = choose_colour_into(c_wzcolor)) show_text_colour(*v);
}

void bd::c_bjtpr_click() {
    // Cancelling clears the picture: it is how the user goes back to a plain background.
    auto chosen = dialogs_->open_file(this, QStringLiteral("请选择要作为背景的图片"),
                                      QStringLiteral("所有图片文件(*.jpg,*.bmp,*.gif) (*.jpg *.bmp *.gif)"),
                                      QCoreApplication::applicationDirPath());
    c_bjtp->setText(chosen ? QDir::toNativeSeparators(*chosen) : QString());
}

void bd::c_mlr_click() {
    auto chosen = dialogs_->choose_folder(this, QStringLiteral("请选择要生成的电子书目录"));
    if (chosen) c_ml->setText(QDir::toNativeSeparators(*chosen));
}

void bd::c_tg_validate() {
    set_if_changed(c_tg, validated(c_tg->text(), default_setting(Setting::c_tg), 20, false));
    update_estimate();
}

void bd::c_tk_validate() {
    set_if_changed(c_tk, validated(c_tk->text(), default_setting(Setting::c_tk), 20, false));
    update_estimate();
}

void bd::c_fontsize_validate() {
    const QString t = validated(c_fontsize->currentText(), default_setting(Setting::c_fontsize), std::nullopt, true);
    if (c_fontsize->currentText() != t) c_fontsize->setEditText(t);
    update_estimate();
}

void bd::c_qm_validate() {
    // The first page number keeps its 16-bit range; the pages after it may go on
    // far past 32767.
    set_if_changed(c_qm, validated(c_qm->text(), default_setting(Setting::c_qm), std::nullopt, true, 32767));
}

void bd::zdfj1_validate() { set_if_changed(zdfj1, validated(zdfj1->text(), default_setting(Setting::zdfj1), 1, false)); }

void bd::c_bjcolor_validate() {
    auto c = colour_value(c_bjcolor->text());
    const std::uint32_t v = c ? *c : default_setting(Setting::c_bjcolor).toUInt();
    set_if_changed(c_bjcolor, QString::number(v));
    show_background_colour(v);
}

void bd::closeEvent(QCloseEvent* event) {
    mk::runflag = 0;
    if (in_run_) closing_ = true;
    event->accept();
}

void bd::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_) return;
    centred_ = true;
    if (QScreen* screen = this->screen()) {
        QRect area = screen->availableGeometry();
        QRect frame = frameGeometry();
        move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
    }
}

bool bd::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == v_2) {
            v_2_dblclick();
            return true;
        }
        if (watched == c_bjcolor) {
            c_bjcolor_dblclick();
            return true;
        }
        if (watched == c_wzcolor) {
            c_wzcolor_dblclick();
            return true;
        }
    }
    if (event->type() == QEvent::FocusOut) {
        // Only a move to another control validates, as with Tab or a click; the
        // window going to the background or a box's own list opening does not.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == c_tg) c_tg_validate();
            else if (watched == c_tk) c_tk_validate();
            else if (watched == c_fontsize) c_fontsize_validate();
            else if (watched == c_qm) c_qm_validate();
            else if (watched == zdfj1) zdfj1_validate();
            else if (watched == c_bjcolor) c_bjcolor_validate();
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace pagiro
